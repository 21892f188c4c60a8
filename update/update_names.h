// Names and command-line rules shared by the startup check and the update worker: the
// worker's switch and process id, the staging folder and its files, the ready event, the
// recovery marker, and the arguments a restarted program keeps. Portable, so the rules that
// read untrusted text are tested and fuzzed natively.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vexo {

inline constexpr wchar_t kUpdateWorkerSwitch[] = L"--vexo-update-worker";
// The worker's command line: the program, the switch and the parent's process id.
inline constexpr std::size_t kWorkerArgumentCount = 3;
inline constexpr std::size_t kMaxProcessIdDigits = 10;

inline constexpr wchar_t kStagingFolderPrefix[] = L".vexo-update-";
inline constexpr std::size_t kRandomNameBytes = 16;
inline constexpr std::size_t kRandomNameDigits = 2 * kRandomNameBytes;
inline constexpr wchar_t kReadyEventPrefix[] = L"Local\\VexoUpdateReady";

inline constexpr wchar_t kPlanFileName[] = L"plan.json";
inline constexpr wchar_t kAppliedFileName[] = L"applied.json";
inline constexpr wchar_t kNewProgramFileName[] = L"new.exe";
inline constexpr wchar_t kPreviousProgramFileName[] = L"previous.exe";
inline constexpr wchar_t kFailedProgramFileName[] = L"failed.exe";

// Set by the worker for the program it starts: the hash of the program file it started. A
// program that finds its own hash there skips its startup update once.
inline constexpr wchar_t kRecoveryVariable[] = L"VEXO_UPDATE_RECOVERY";
// Characters read of the marker, with the terminator; a longer value is ignored.
inline constexpr std::size_t kRecoveryBufferChars = 80;

// The worker's parent process id: "[1-9][0-9]{0,9}" in full, at most 4294967295.
std::optional<std::uint32_t> ParseWorkerProcessId(std::wstring_view text) noexcept;

// ".vexo-update-" followed by 32 lower-case hex digits, in full.
bool IsStagingFolderName(std::wstring_view name) noexcept;
std::wstring StagingFolderName(std::wstring_view random_digits);

// "Local\VexoUpdateReady" and the digits of a staging folder's name.
std::wstring ReadyEventName(std::wstring_view staging_folder_name);

// The arguments a restarted program keeps, from the arguments of this start (after the
// program): none gives "", a single argument equal to the role's carried switch gives that
// switch; anything else means no update now (nothing).
std::optional<std::string> SavedArgumentsFor(std::string_view role,
                                             std::span<const std::wstring> arguments);

// Each byte becomes one UTF-16 code unit of the same value.
std::wstring WidenAscii(std::string_view text);

// The reverse for text that is ASCII; nothing when a character is not.
std::optional<std::string> NarrowAscii(std::wstring_view text);

}  // namespace vexo
