// Test knobs of the stand-in Host, in the test flavours only (VEXO_HOST_TEST_KNOBS): a build
// without them reads no environment variable and knows only the contract's command lines. The
// launcher fixes the Host's command lines, so tests choose deviations through the environment
// variable VEXO_DEMO_HOST_TEST, which the launcher of a test flavour hands on to the Host runs:
// knobs separated by ';', each "name" or "name=value". The service process does not inherit it;
// its knob travels in the service's registry key (host_service.h). docs/host-contract.md lists
// every knob.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "common/product.h"

namespace vexo::demo_host {

inline constexpr const wchar_t* kKnobVariable = product::kHostTestKnobVariable;

inline constexpr wchar_t kReportKnob[] = L"report";               // =PATH
inline constexpr wchar_t kChildKnob[] = L"child";                 // no value
inline constexpr wchar_t kSleepKnob[] = L"sleep";                 // =MILLISECONDS
inline constexpr wchar_t kExitKnob[] = L"exit";                   // =CODE
inline constexpr wchar_t kRegisterKnob[] = L"register";           // =VARIANT (host_service.h)
inline constexpr wchar_t kStartServiceKnob[] = L"start-service";  // no value
inline constexpr wchar_t kServiceKnob[] = L"service";             // =BEHAVIOUR (host_service.h)
inline constexpr wchar_t kCloseAfterKnob[] = L"close-after";      // =MILLISECONDS

// The child the child knob starts runs with this switch and sleeps this long.
inline constexpr wchar_t kOutlivingChildSwitch[] = L"--outliving-child";
inline constexpr DWORD kOutlivingChildMs = 600000;

// The value of the knob `name`: empty for a knob without value, nothing when it is not set.
std::optional<std::wstring> Knob(std::wstring_view name);

// A knob's number: decimal, or hexadecimal after "0x".
DWORD KnobNumber(const std::wstring& text);

// The knobs every run applies before its work, in this order: report (writes the command line,
// the current folder and each environment variable, one per line, as UTF-16 to PATH, which must
// lie outside the run folder), child, sleep, exit. Returns the exit code to end with at once, or
// nothing to go on.
std::optional<DWORD> ApplyStartKnobs(const std::wstring& own_path);

// The child's whole life: a sleep of kOutlivingChildMs, then exit code 0.
DWORD RunOutlivingChild();

}  // namespace vexo::demo_host
