// A run folder with the stand-in Host, for tests of the Host start, the Host detection and the
// broker service removal against real processes and the real service control manager.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/handles.h"
#include "demo-host/host_knobs.h"
#include "run/run_id.h"
#include "run/run_placement.h"
#include "tools/wine-bench/wine_driver.h"

namespace vexo::test {

inline constexpr DWORD kDemoHostRunLimitMs = 30000;
inline constexpr DWORD kServiceGoneLimitMs = 10000;

// Removes the service `name` whatever state it is in: stop, delete, and a process that ignores
// the stop is terminated; returns once the name has gone (or after kServiceGoneLimitMs).
inline void ForceRemoveService(const std::wstring& name) {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueServiceHandle service(
      ::OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS));
  if (!service) {
    return;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof(status), &size);
  SERVICE_STATUS stop{};
  ::ControlService(service.get(), SERVICE_CONTROL_STOP, &stop);
  ::DeleteService(service.get());
  service.reset();
  const UniqueHandle process(
      ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
  if (process && ::WaitForSingleObject(process.get(), 1000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), ERROR_TIMEOUT);
  }
  for (DWORD waited = 0; waited < kServiceGoneLimitMs; waited += 100) {
    if (!UniqueServiceHandle(::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS))) {
      return;
    }
    ::Sleep(100);
  }
}

// The service as configured (binary path, account, type, start) and its state, one text, or
// "no service".
inline std::string ServiceText(const std::wstring& name) {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const UniqueServiceHandle service(
      ::OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  std::vector<DWORD> buffer(2048);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  DWORD size = 0;
  SERVICE_STATUS status{};
  if (!::QueryServiceConfigW(service.get(), config, 8192, &size) ||
      !::QueryServiceStatus(service.get(), &status)) {
    return "no service";
  }
  return ToUtf8(config->lpBinaryPathName) + "|" + ToUtf8(config->lpServiceStartName) + "|" +
         std::to_string(config->dwServiceType) + "|" + std::to_string(config->dwStartType) + "|" +
         std::to_string(status.dwCurrentState);
}

// C:\vexo-tests\host-<hex>\run folder\<new run id>, holding the stand-in Host as `host_name`
// (none when empty). The space in the path is deliberate. The run's broker service is removed
// with the folder.
class DemoHostRun {
 public:
  explicit DemoHostRun(const std::wstring& host_name = L"Vexo-Host.exe") : run_id_(NewRunId()) {
    const std::wstring relative = std::wstring(L"run folder\\") + run_id_;
    ::CreateDirectoryW((scratch_.path() + L"\\run folder").c_str(), nullptr);
    ::CreateDirectoryW(folder_.c_str(), nullptr);
    if (!host_name.empty()) {
      host_path_ = scratch_.CopyIn(InBuildTree(VEXO_DEMO_HOST_IMAGE), relative + L"\\" + host_name);
    }
  }
  ~DemoHostRun() { ForceRemoveService(service_name()); }

  const std::wstring& folder() const { return folder_; }
  const std::wstring& host_path() const { return host_path_; }
  std::wstring service_name() const { return BrokerServiceName(run_id_); }
  // A file of the scratch folder, outside the run folder.
  std::wstring OutsidePath(const std::wstring& name) const {
    return scratch_.path() + L"\\" + name;
  }

  // Runs the Host with one argument and the knobs, and returns its exit code.
  std::uint32_t Run(const std::wstring& argument, const std::wstring& knobs) const;

 private:
  ScratchFolder scratch_{L"host"};
  std::wstring run_id_;
  std::wstring folder_ = scratch_.path() + L"\\run folder\\" + run_id_;
  std::wstring host_path_;
};

// Sets the stand-in Host's knobs for the programs this process starts within the scope.
class HostKnobs {
 public:
  explicit HostKnobs(const std::wstring& knobs) {
    ::SetEnvironmentVariableW(demo_host::kKnobVariable, knobs.c_str());
  }
  HostKnobs(const HostKnobs&) = delete;
  HostKnobs& operator=(const HostKnobs&) = delete;
  ~HostKnobs() { ::SetEnvironmentVariableW(demo_host::kKnobVariable, nullptr); }
};

inline std::uint32_t DemoHostRun::Run(const std::wstring& argument,
                                      const std::wstring& knobs) const {
  const HostKnobs set(knobs);
  return StartProgram({host_path_, {argument}, TokenKind::kFull, folder_})
      .WaitOrTerminate(kDemoHostRunLimitMs)
      .exit_code;
}

}  // namespace vexo::test
