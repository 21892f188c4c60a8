// The broker service against the real service control manager: services registered by the
// stand-in Host's preparation run, with one identity field changed or in a given state, and
// what the removal makes of them. A service that is absent, stopped, running or registered with
// another binary path, and the deployment's presence check, are met end to end by the launcher
// (tests/e2e/main_job_test.cpp).
#include <gtest/gtest.h>

#include <thread>

#include "cleanup/broker_service.h"
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
  std::jthread other_holder;
  if (c.marked_by_other_holder) {
    const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
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
  const RemovalCase cases[] = {
      {"running for the user", L"start-service", false, 5, message::kBrokerProcessNotThisRun},
  };
#endif
  for (const RemovalCase& c : cases) {
    RunRemovalCase(c);
  }
}

}  // namespace
}  // namespace vexo
