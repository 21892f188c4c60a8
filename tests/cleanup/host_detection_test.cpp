// EnsureHostStopped against running stand-in Hosts: a Host of the run folder that runs for the
// user stops the cleanup, whatever the letter case of its file name; a Host of another folder
// does not.
#include <gtest/gtest.h>

#include "cleanup/host_detection.h"
#include "cleanup/messages.h"
#include "tests/common/catch_failure.h"
#include "tests/support/demo_host_run.h"

namespace vexo {
namespace {

using namespace test;

struct DetectionCase {
  const char* what;
  const wchar_t* host_name;
  bool in_checked_folder;  // else in a folder of its own
  std::uint32_t code;      // 0: the check passes
};

TEST(EnsureHostStoppedTest, RefusesOnlyAHostOfTheRunFolderRunningForTheUser) {
  const DetectionCase cases[] = {
      {"this run's Host", L"Vexo-Host.exe", true, 170},
      {"another folder's Host", L"Vexo-Host.exe", false, 0},
      {"this run's Host in upper case", L"VEXO-HOST.EXE", true, 170},
  };
  for (const DetectionCase& c : cases) {
    SCOPED_TRACE(c.what);
    const DemoHostRun checked(c.in_checked_folder ? c.host_name : L"");
    const DemoHostRun other(c.in_checked_folder ? L"" : c.host_name);
    const HostKnobs knobs(L"sleep=600000");
    const RunningProgram host =
        StartProgram({c.in_checked_folder ? checked.host_path() : other.host_path()});
    EXPECT_EQ(RefusalOf([&] { EnsureHostStopped(checked.folder()); }),
              c.code == 0 ? L"" : Refusal(c.code, message::kCloseHostFirst));
  }
}

}  // namespace
}  // namespace vexo
