// The run's broker service: whether it exists, and its removal once it has proven to be
// exactly what the run registered. A process is never ended by force; every time limit ends
// the removal with the service (and so the run's files) kept.
#pragma once

#include <windows.h>

#include <string>

namespace vexo {

// Time limits of the removal.
inline constexpr DWORD kBrokerStopWaitMs = 20000;     // until the service reports stopped
inline constexpr DWORD kBrokerProcessWaitMs = 10000;  // until its process has ended, once deleted
inline constexpr DWORD kBrokerRemovalWaitMs = 10000;  // until its name has gone, once deleted
inline constexpr DWORD kBrokerPollIntervalMs = 100;
// Largest configuration record the removal reads.
inline constexpr DWORD kMaxBrokerConfigSize = 65536;

// The names a service configuration gives for the LocalSystem account, compared ignoring case.
inline constexpr const wchar_t* kLocalSystemAccountNames[] = {L"LocalSystem", L".\\LocalSystem"};

// Whether `account` (may be null) is one of kLocalSystemAccountNames.
bool IsLocalSystemAccountName(const wchar_t* account);

// Whether the service `service_name` is registered, one marked for deletion included. Throws
// Failure when the service control manager gives no answer.
bool BrokerServiceExists(const std::wstring& service_name);

// Returns at once when the service does not exist. Otherwise checks its configuration against
// the broker identity of `run_folder` and its running process (this run's Host as LocalSystem),
// stops it when it is not stopped, deletes it and waits until its process and its name have
// gone. Throws Failure; before the deletion a failure leaves the service as it was, apart from
// a stop request.
void RemoveBrokerService(const std::wstring& run_folder, const std::wstring& service_name);

}  // namespace vexo
