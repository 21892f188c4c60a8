// update-chain REPORT PROGRAM [ARGS...]: starts PROGRAM, writes its process id to REPORT.pid,
// and waits until every process running from PROGRAM's folder or below it (the update worker,
// the restarted program, its re-start) has ended; writes "<image below the folder>\t<exit code>"
// per process, in the order they were seen, to REPORT, and ends with PROGRAM's exit code.
#include <windows.h>

#include <tlhelp32.h>

#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cleanup/host_detection.h"
#include "common/handles.h"
#include "common/path.h"
#include "tools/wine-bench/wine_driver.h"

using vexo::UniqueHandle;

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return 2;
  }
  const std::wstring folder = vexo::ParentPath(argv[2]);
  vexo::test::RunningProgram launcher = vexo::test::StartProgram(
      {argv[2], {argv + 3, argv + argc}, vexo::test::TokenKind::kFull, folder});
  std::wofstream((std::wstring(argv[1]) + L".pid").c_str()) << launcher.id();
  std::set<DWORD> ids;
  std::vector<std::pair<std::wstring, UniqueHandle>> seen;
  for (bool running = true; running; ::Sleep(10)) {
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
      UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                         entry.th32ProcessID));
      const std::wstring image = process ? vexo::GetProcessImagePath(process.get()) : L"";
      if (image.size() > folder.size() &&
          ::CompareStringOrdinal(image.c_str(), static_cast<int>(folder.size()), folder.c_str(), -1,
                                 TRUE) == CSTR_EQUAL &&
          ids.insert(entry.th32ProcessID).second) {
        seen.emplace_back(image.substr(folder.size() + 1), std::move(process));
      }
    }
    running = !launcher.HasEnded();
    for (const auto& [image, process] : seen) {
      running = running || ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
    }
  }
  std::wofstream report(argv[1]);
  for (const auto& [image, process] : seen) {
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    report << image << L"\t" << code << L"\n";
  }
  return static_cast<int>(launcher.WaitOrTerminate(0).exit_code);
}
