// This build carries no update client and no update worker yet. The doors are wired where
// the entry expects them so the order of a start is already the final one:
// - a start as update worker ends with the worker's failure code, never as a success;
// - the startup check never finds an update, so every start goes on with its normal launch.
#include "update/update_entry.h"

#include <windows.h>

#include <shellapi.h>

#include <string_view>

#include "common/error_codes.h"
#include "common/handles.h"

namespace vexo {
namespace {

constexpr wchar_t kSwitchUpdateWorker[] = L"--vexo-update-worker";

}  // namespace

bool TryRunUpdateWorker(const char* /*role*/, const char* /*version*/, std::uint32_t& exit_code) {
  int count = 0;
  const UniqueArgv argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv || count < 2 || std::wstring_view(argv.get()[1]) != kSwitchUpdateWorker) {
    return false;
  }
  exit_code = error::kInvalidData;
  return true;
}

bool RunStartupUpdate(const char* /*role*/,
                      const char* /*current_version*/,
                      std::uint64_t /*minimum_sequence*/) {
  return false;
}

}  // namespace vexo
