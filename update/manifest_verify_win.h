// The system side of the manifest check: SHA-256 and ECDSA P-256 through CNG, the system
// clock, and the build's compiled-in update signing key.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "update/manifest.h"

namespace vexo {

inline constexpr std::size_t kSha256Bytes = 32;

// The one-shot CNG hash on the built-in SHA-256 algorithm handle.
// Raises "update_validation_failed" when CNG fails.
std::array<std::uint8_t, kSha256Bytes> Sha256Bytes(std::span<const std::uint8_t> bytes);

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
