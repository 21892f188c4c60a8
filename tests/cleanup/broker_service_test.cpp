// The cleanup against real processes and the real service control manager: services
// registered by the stand-in Host's preparation run, with one identity field changed or in a
// given state, and what the removal makes of them; and Hosts started in ways only a judgement by
// the image file gets right. A service that is absent, stopped, running or registered with
// another binary path, the deployment's presence check, and a Host of the run running for the
// customer, are met end to end by the launcher (tests/e2e/main_job_test.cpp).
#include <gtest/gtest.h>

#include <cwchar>
#include <thread>
#include <tuple>

#include "cleanup/broker_service.h"
#include "cleanup/host_detection.h"
#include "cleanup/messages.h"
#include "tests/common/catch_failure.h"
#include "tests/support/demo_host_run.h"

namespace vexo {
namespace {

using namespace test;

struct RemovalCase {
  const char* what;
  const wchar_t* install_knobs;  // null: nothing registered
  bool marked_by_other_holder;   // deleted by the test through a handle it closes a second later
  std::uint32_t code;            // 0: removed and gone
  const wchar_t* message;        // of the Failure
};

void RunRemovalCase(const RemovalCase& c) {
  SCOPED_TRACE(c.what);
  const DemoHostRun run;
  if (c.install_knobs != nullptr) {
    ASSERT_EQ(run.Run(L"--uac-install", c.install_knobs), 0u);
  }
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (c.install_knobs != nullptr && std::wcsstr(c.install_knobs, L"slow-start") != nullptr) {
    // A starting service refuses a stop request: Windows with 1061, Wine with 1052. So the
    // removal asks only once the service runs.
    SERVICE_STATUS status{};
    EXPECT_FALSE(::ControlService(
        UniqueServiceHandle(::OpenServiceW(manager.get(), run.service_name().c_str(), SERVICE_STOP))
            .get(),
        SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(::GetLastError(),
              DWORD{kOnWindows ? ERROR_SERVICE_CANNOT_ACCEPT_CTRL : ERROR_INVALID_SERVICE_CONTROL});
  }
  std::jthread other_holder;
  if (c.marked_by_other_holder) {
    SC_HANDLE held = ::OpenServiceW(manager.get(), run.service_name().c_str(), DELETE);
    ASSERT_TRUE(held != nullptr && ::DeleteService(held));
    other_holder = std::jthread([held] {
      ::Sleep(1000);
      ::CloseServiceHandle(held);
    });
  }
  const std::string before = ServiceText(run.service_name());
  EXPECT_EQ(RefusalOf([&] { RemoveBrokerService(run.folder(), run.service_name()); }),
            c.code == 0 ? L"" : Refusal(c.code, c.message));
  // Removed and gone, or left registered as it was, in the same state.
  EXPECT_EQ(ServiceText(run.service_name()), c.code == 0 ? "no service" : before);
}

#if defined(VEXO_HOST_TEST_KNOBS)
TEST(RemoveBrokerServiceTest, RemovesOnlyTheRunsOwnRegistration) {
  const RemovalCase cases[] = {
      {"extra argument", L"register=extra-argument", false, 5, message::kBrokerDiffers},
      {"other account", L"register=other-account", false, 5, message::kBrokerDiffers},
      {"automatic start", L"register=automatic-start", false, 5, message::kBrokerDiffers},
      {"shared process", L"register=shared-process", false, 5, message::kBrokerDiffers},
      {"path in other letter case", L"register=upper-case-path", false, 0, L""},
      {"account .\\localsystem", L"register=dot-account", false, 0, L""},
      {"marked for deletion by another holder", L"", true, 0, L""},
  };
  for (const RemovalCase& c : cases) {
    RunRemovalCase(c);
  }
}

#endif  // VEXO_HOST_TEST_KNOBS

// A running service passes the process check only where its process runs as LocalSystem: on
// Windows, and under Wine only in the test flavour that answers for it
// (docs/broker-service-under-wine.md).
TEST(RemoveBrokerServiceTest, StopsARunningServiceOfTheRun) {
#if defined(VEXO_EMULATED_SERVICE_ACCOUNT) || defined(VEXO_WINDOWS_RUNNER)
  const RemovalCase cases[] = {
      {"still starting", L"start-service;service=slow-start", false, 0, L""},
      {"ignores the stop", L"start-service;service=ignore-stop", false, 1460,
       message::kBrokerNotStopped},
  };
#else
  // This build's stand-in has no test knobs: it ignores `exit=5` and `start-service` and registers
  // the broker, which is removed.
  const RemovalCase cases[] = {
      {"knobs ignored", L"exit=5;start-service", false, 0, L""},
  };
#endif
  for (const RemovalCase& c : cases) {
    RunRemovalCase(c);
  }
}

// A process is a Host of the run when its image is the run's Host file, however it was started
// (on Windows by its 8.3 short path, under Wine by its Unix path on drive Z:); a program of the
// same name from another folder never is, also when it refuses to be opened: the system's process
// id information still names its image (Wine 8 has none, so there the cleanup refuses).
TEST(EnsureHostStoppedTest, JudgesAProcessByItsImageFile) {
  const DemoHostRun run;
  const DemoHostRun other;
  const std::wstring spelled_otherwise = OtherSpellingOf(run.host_path());
  EXPECT_NE(spelled_otherwise, run.host_path()) << "no 8.3 names on this volume";
  const std::tuple<std::wstring, const wchar_t*, std::wstring> cases[] = {
      {spelled_otherwise, nullptr, Refusal(170, message::kCloseHostFirst)},
      {other.host_path(), L"D:(A;;GA;;;SY)",
       kOnWindows ? L"" : Refusal(170, message::kHostEndUnknown)},
  };
  for (const auto& [host, process_sddl, refusal] : cases) {
    SCOPED_TRACE(ToUtf8(host));
    const RunningProgram started = StartProgram({host, {}, TokenKind::kFull, {}, process_sddl});
    EXPECT_EQ(RefusalOf([&] { EnsureHostStopped(run.folder()); }), refusal);
  }
}

}  // namespace
}  // namespace vexo
