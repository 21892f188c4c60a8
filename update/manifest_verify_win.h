// The system side of the manifest check: SHA-256 and ECDSA P-256 through CNG, the system
// clock, and the build's compiled-in update signing key.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/sha256.h"
#include "update/manifest.h"

namespace vexo {

// SHA-256 of `bytes` (one-shot CNG); raises "update_validation_failed" when CNG fails.
Sha256Digest UpdateSha256(std::span<const std::uint8_t> bytes);

// Imports the 72-byte ECCPUBLICBLOB and verifies the 64-byte P1363 signature over the
// SHA-256 of `signed_bytes`. False when the provider does not open, the key does not import
// or the signature does not verify.
bool VerifyEcdsaP256Signature(std::span<const std::uint8_t> public_key_blob,
                              std::span<const std::uint8_t> signature,
                              std::string_view signed_bytes);

// GetSystemTimeAsFileTime as one 64-bit value.
std::uint64_t ReadSystemFileTime();

// The 144 hex digits of the public key this build trusts for key id "vexo-update-2026-01".
std::string_view UpdatePublicKeyHex() noexcept;

// VerifyUpdateManifestWith the build's key, CNG and the system clock.
VerifiedManifest VerifyUpdateManifest(std::string_view manifest_text,
                                      std::string_view role,
                                      std::string_view current_version,
                                      std::uint64_t minimum_sequence);

}  // namespace vexo
