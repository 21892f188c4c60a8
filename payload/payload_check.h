// SHA-256 proof of embedded resources and of files written from them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/sha256.h"
#include "payload/catalogue.h"

namespace vexo {

// The largest resource the launcher accepts (inclusive).
inline constexpr std::uint32_t kMaxPayloadResourceBytes = 64u * 1024u * 1024u;

// A hasher whose failed steps raise the payload check's Failures (code 13).
Sha256Hasher NewPayloadHasher();

// Locked resource bytes of the launcher's own module; no release needed.
struct PayloadView {
  const std::uint8_t* data;
  std::uint32_t size;
};

// Finishes the hash and compares it, as lower-case hex, with `expected_digest` (whose ASCII
// letters are folded). Throws Failure 13.
void FinishAndCompareDigest(Sha256Hasher& hasher, const char* expected_digest);

// Finds, loads and proves one catalogue resource of `module` (the launcher itself unless a
// test passes another image). Throws Failure 1812 when missing, 13 otherwise.
PayloadView LoadVerifiedResource(const PayloadEntry& entry);
PayloadView LoadVerifiedResourceFrom(HMODULE module, const PayloadEntry& entry);

// Hashes an open file from offset 0 to its end, compares, and leaves the position at 0.
void VerifyFileDigest(HANDLE file, const char* expected_digest);

// Proves an open file is the payload file of `entry`: its digest when it is at least as long as
// the embedded file, otherwise its bytes exactly the embedded file's first bytes (what a write
// the launcher did not finish leaves). Anything else is Failure 13 with the version message.
// Leaves the position at 0.
void VerifyPayloadOrLeadingPart(HANDLE file, const PayloadEntry& entry);

// The catalogue check, then every resource in catalogue order; the first failure ends it.
void VerifyEmbeddedPayload();

}  // namespace vexo
