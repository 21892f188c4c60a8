// Windows error codes the launcher raises as fixed values. They are plain Windows codes;
// the portable core names them here so it needs no <windows.h>.
#pragma once

#include <cstdint>

namespace vexo::error {

inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidData = 13;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kNoMoreFiles = 18;
inline constexpr std::uint32_t kComFailure = 31;  // ERROR_GEN_FAILURE: no COM or no run id
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kLockViolation = 33;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kBadPathname = 161;
inline constexpr std::uint32_t kBusy = 170;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kServiceMarkedForDelete = 1072;
inline constexpr std::uint32_t kCancelled = 1223;
inline constexpr std::uint32_t kTimeout = 1460;
inline constexpr std::uint32_t kResourceDataNotFound = 1812;

}  // namespace vexo::error
