// update-chain REPORT PROGRAM [ARGS...]: starts PROGRAM and waits until every process running
// from PROGRAM's folder or below it (the update worker, the restarted program, its elevated
// re-start) has ended; writes "<image below the folder>\t<exit code>" per process, in the order
// they were seen, to REPORT, and ends with PROGRAM's exit code.
#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/path.h"
#include "tests/support/program_start.h"

namespace {

struct Seen {
  std::wstring image;
  vexo::UniqueHandle process;
};

std::wstring ImageOf(HANDLE process) {
  std::wstring image(vexo::kLongPathCapacity, L'\0');
  DWORD size = vexo::kLongPathCapacity;
  if (!::QueryFullProcessImageNameW(process, 0, image.data(), &size)) {
    return {};
  }
  image.resize(size);
  return image;
}

// Opens every process of the folder not seen yet.
void CollectNew(const std::wstring& folder,
                std::map<DWORD, Seen>& seen,
                std::vector<DWORD>& order) {
  const vexo::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (seen.count(entry.th32ProcessID) != 0) {
      continue;
    }
    vexo::UniqueHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    const std::wstring image = process ? ImageOf(process.get()) : std::wstring();
    if (image.size() > folder.size() &&
        ::_wcsnicmp(image.c_str(), folder.c_str(), folder.size()) == 0) {
      seen[entry.th32ProcessID] = {image.substr(folder.size()), std::move(process)};
      order.push_back(entry.th32ProcessID);
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return 2;
  }
  const std::wstring program = argv[2];
  const std::wstring folder = vexo::ParentPath(program) + L"\\";
  vexo::test::RunningProgram launcher =
      vexo::test::StartProgram({program, std::vector<std::wstring>(argv + 3, argv + argc),
                                vexo::test::TokenKind::kFull, vexo::ParentPath(program)});
  std::map<DWORD, Seen> seen;
  std::vector<DWORD> order;
  for (bool running = true; running;) {
    CollectNew(folder, seen, order);
    running = !launcher.HasEnded();
    for (const auto& [id, process] : seen) {
      running = running || ::WaitForSingleObject(process.process.get(), 0) == WAIT_TIMEOUT;
    }
    ::Sleep(10);
  }
  std::wofstream report(argv[1]);
  for (DWORD id : order) {
    DWORD code = 0;
    ::GetExitCodeProcess(seen[id].process.get(), &code);
    report << seen[id].image << L"\t" << code << L"\n";
  }
  return static_cast<int>(launcher.WaitForExit(0).value_or(1460));
}
