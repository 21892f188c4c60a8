// SHA-256 proof of embedded resources and of files written from them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/handles.h"
#include "payload/catalogue.h"

namespace vexo {

// The largest resource the launcher accepts (inclusive).
inline constexpr std::uint32_t kMaxPayloadResourceBytes = 64u * 1024u * 1024u;

// One hashing pass with CNG: provider, hash object and its buffer. The buffer outlives
// the hash handle; members are destroyed in reverse order (hash, provider, buffer).
class Sha256Hasher {
 public:
  Sha256Hasher();  // throws Failure 13
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  // Hashes more bytes; throws Failure 13 "파일 무결성 검증에 실패했습니다." on failure.
  void Add(const void* data, std::uint32_t size);
  BCRYPT_HASH_HANDLE hash() const noexcept { return hash_.get(); }

 private:
  std::vector<std::uint8_t> object_;
  UniqueAlgorithmHandle provider_;
  UniqueHashHandle hash_;
};

// Locked resource bytes of the launcher's own module; no release needed.
struct PayloadView {
  const std::uint8_t* data;
  std::uint32_t size;
};

// Finishes the hash and compares it, as lower-case hex, with `expected_digest` (whose
// letters A-F are folded). Throws Failure 13.
void FinishAndCompareDigest(Sha256Hasher& hasher, const char* expected_digest);

// Finds, loads and proves one catalogue resource of `module` (the launcher itself unless
// a test passes another image). Throws Failure 1812 when missing, 13 otherwise.
PayloadView LoadVerifiedResource(const PayloadEntry& entry);
PayloadView LoadVerifiedResourceFrom(HMODULE module, const PayloadEntry& entry);

// Hashes an open file from offset 0 to its end, compares, and leaves the position at 0.
void VerifyFileDigest(HANDLE file, const char* expected_digest);

// The catalogue check, then every resource in catalogue order; the first failure ends it.
void VerifyEmbeddedPayload();

}  // namespace vexo
