// ECDSA P-256 with OpenSSL in the forms the launcher's CNG code expects: the public key as
// the 72-byte ECCPUBLICBLOB and signatures as 64-byte P1363 r || s over SHA-256.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/evp.h>

namespace vexo::tool {

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

inline constexpr std::size_t kP256PublicBlobBytes = 72;
inline constexpr std::size_t kP256SignatureBytes = 64;

UniquePkey GenerateP256Key();

// PEM text of the private key (PKCS#8, unencrypted). The caller wipes it after use.
std::string PrivateKeyPem(EVP_PKEY* key);

// Reads a PEM private key and insists on a P-256 EC key.
UniquePkey LoadP256PrivateKey(std::string_view pem, const std::string& source_name);

std::array<std::uint8_t, kP256PublicBlobBytes> PublicKeyBlob(EVP_PKEY* key);

// Builds a public key from an ECCPUBLICBLOB; nullptr when the blob is not a P-256 point.
UniquePkey PublicKeyFromBlob(std::span<const std::uint8_t> blob);

std::array<std::uint8_t, kP256SignatureBytes> SignP1363(EVP_PKEY* key, std::string_view bytes);

bool VerifyP1363(EVP_PKEY* key, std::span<const std::uint8_t> signature, std::string_view bytes);

std::array<std::uint8_t, 32> Sha256Of(std::span<const std::uint8_t> bytes);

}  // namespace vexo::tool
