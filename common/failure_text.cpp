#include "common/failure_text.h"

#include <windows.h>

#include "common/handles.h"
#include "common/messages.h"

namespace vexo {
namespace {

constexpr DWORD kSystemDescriptionFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;

// The system's description of `code`, or empty when Windows has none.
std::wstring SystemDescription(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(kSystemDescriptionFlags, nullptr, code, 0,
                                        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) {
    return std::wstring();
  }
  return std::wstring(buffer, length);
}

}  // namespace

std::wstring FormatFailureText(const Failure& failure) {
  std::wstring text = failure.message;
  text += L'\n';
  text += message::kErrorCodePrefix;
  text += DecimalText(failure.code);
  const std::wstring description = SystemDescription(failure.code);
  if (!description.empty()) {
    text += L": ";
    text += description;
  }
  return text;
}

}  // namespace vexo
