// Command line and exit codes of box-sample.exe, the stand-in GUI program the bench's own tests
// drive.
//
//   box-sample --box FLAGS TEXT [--box FLAGS TEXT]...   shows each message box in turn (caption
//                                                       the product title), returns the last
//                                                       button pressed
//   box-sample --elevation                              returns whether it runs elevated
//   box-sample --hang                                   never ends
#pragma once

#include <cstdint>

namespace vexo::test::sample {

inline constexpr wchar_t kBoxSwitch[] = L"--box";
inline constexpr wchar_t kElevationSwitch[] = L"--elevation";
inline constexpr wchar_t kHangSwitch[] = L"--hang";

inline constexpr std::uint32_t kExitNotElevated = 100;
inline constexpr std::uint32_t kExitElevated = 101;
inline constexpr std::uint32_t kExitBadCommandLine = 87;
inline constexpr std::uint32_t kExitBoxFailed = 102;
inline constexpr std::uint32_t kExitTokenUnreadable = 103;

// RT_RCDATA resources carried for the resource patcher's tests.
inline constexpr std::uint16_t kFirstResourceId = 101;
inline constexpr std::uint16_t kSecondResourceId = 102;
inline constexpr char kFirstResourceText[] = "vexo sample resource one";
inline constexpr char kSecondResourceText[] = "vexo sample resource two";

}  // namespace vexo::test::sample
