// The launcher's command-line switches. They are compared exactly and with case; the deployment
// also quotes the cleanup switch in the command it gives the customer for leftovers.
#pragma once

namespace vexo {

inline constexpr wchar_t kSwitchPortableElevated[] = L"--portable-elevated";
inline constexpr wchar_t kSwitchVerifyPayload[] = L"--verify-payload";
inline constexpr wchar_t kSwitchCleanup[] = L"--cleanup";
inline constexpr wchar_t kSwitchCleanupElevated[] = L"--cleanup-elevated";

}  // namespace vexo
