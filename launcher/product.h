// Fixed identity of this program.
#pragma once

#include <cstdint>

namespace vexo {

// Caption of every message box the launcher shows.
inline constexpr wchar_t kProductTitle[] = L"벡소링크 원격지원";

// A top-level window of this class means a Host runs in the session.
inline constexpr wchar_t kHostWindowClass[] = L"vexoNativeHost";

// Identity handed to the startup update.
inline constexpr char kProgramRole[] = "host";
inline constexpr char kProgramVersion[] = "0.2.1";
inline constexpr std::uint64_t kMinimumManifestSequence = 2;

}  // namespace vexo
