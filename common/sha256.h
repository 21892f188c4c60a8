// SHA-256 through CNG, streaming and one-shot: the launcher's only hashing code.
//
// Each caller reports a failed step in its own words (the payload check with its messages,
// the update with its single refusal), so a failure handler comes in with every use. The
// handler must throw; it is never expected to return.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/cng.h"
#include "common/handles.h"

namespace vexo {

inline constexpr std::size_t kSha256Bytes = 32;
using Sha256Digest = std::array<std::uint8_t, kSha256Bytes>;

// The step of a hash computation that failed.
enum class Sha256Step {
  kOpenProvider,      // CNG is not in the system folder, or the "SHA256" provider did not open
  kReadObjectLength,  // its "ObjectLength" is unreadable, 0 or above 65,536
  kCreateHash,        // the hash object was not created
  kHashData,          // hashing a piece of data failed
  kFinishHash,        // the digest was not obtained
};

using Sha256FailureHandler = void (*)(Sha256Step step);

// One hashing pass: the provider, the hash object and its zero-filled buffer. The buffer
// outlives the hash handle; members go in reverse order (hash, provider, buffer).
class Sha256Hasher {
 public:
  explicit Sha256Hasher(Sha256FailureHandler on_failure);
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  void Add(std::span<const std::uint8_t> bytes);
  // Finishes the hash; the hasher takes no more data afterwards.
  Sha256Digest Finish();

 private:
  [[noreturn]] void Fail(Sha256Step step) const;

  Sha256FailureHandler on_failure_;
  const CngFunctions& cng_;
  std::vector<std::uint8_t> object_;
  UniqueAlgorithmHandle provider_;
  UniqueHashHandle hash_;
};

// The one-shot CNG hash on the built-in SHA-256 algorithm handle.
Sha256Digest Sha256Bytes(std::span<const std::uint8_t> bytes, Sha256FailureHandler on_failure);

}  // namespace vexo
