// The stand-in Host's broker service: its registration by the preparation run and its life as
// a service.
#pragma once

#include <windows.h>

#include <string>

namespace vexo::demo_host {

// Registration variants the register knob chooses; each changes one identity field.
inline constexpr wchar_t kOtherFolderVariant[] = L"other-folder";        // the parent folder
inline constexpr wchar_t kExtraArgumentVariant[] = L"extra-argument";    // one more argument
inline constexpr wchar_t kOtherAccountVariant[] = L"other-account";      // LocalService
inline constexpr wchar_t kAutomaticStartVariant[] = L"automatic-start";  // start type 2
inline constexpr wchar_t kSharedProcessVariant[] = L"shared-process";    // service type 0x20
inline constexpr wchar_t kUpperCasePathVariant[] = L"upper-case-path";   // same path, upper case
inline constexpr wchar_t kDotAccountVariant[] = L"dot-account";          // .\localsystem

// Service behaviours the service knob chooses. The preparation run stores the choice as the
// value kServiceBehaviourValue in the service's own registry key, which goes with the service.
inline constexpr wchar_t kServiceBehaviourValue[] = L"VexoDemoHostTest";
inline constexpr wchar_t kIgnoreStopBehaviour[] = L"ignore-stop";  // takes the stop, keeps running
inline constexpr wchar_t kSlowStartBehaviour[] = L"slow-start";    // start-pending for a while
inline constexpr DWORD kSlowStartMs = 2000;

// Registers VexoDesktopBrokerPortable<run id> for `run_folder` (own process, demand start,
// LocalSystem, "<run folder>\Vexo-Host.exe" --uac-service) as the knobs say, and starts it
// with start-service. Returns 0 or the Windows error.
DWORD RegisterBrokerService(const std::wstring& run_folder);

// Runs the service through the service control dispatcher until it is stopped. Returns 0 or
// the Windows error.
DWORD RunBrokerService();

}  // namespace vexo::demo_host
