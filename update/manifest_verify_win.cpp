#include "update/manifest_verify_win.h"

#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "common/handles.h"
#include "update/update_error.h"
#include "update/update_public_key.h"

namespace vexo {
namespace {

// MinGW-w64's headers lack the pseudo-handle of the built-in SHA-256 provider.
#ifndef BCRYPT_SHA256_ALG_HANDLE
const BCRYPT_ALG_HANDLE kSha256AlgorithmHandle =
    reinterpret_cast<BCRYPT_ALG_HANDLE>(static_cast<ULONG_PTR>(0x41));
#else
const BCRYPT_ALG_HANDLE kSha256AlgorithmHandle = BCRYPT_SHA256_ALG_HANDLE;
#endif

bool Succeeded(NTSTATUS status) noexcept {
  return status >= 0;
}

// CNG takes sizes as ULONG and non-const input pointers it does not write through.
bool FitsUlong(std::size_t size) noexcept {
  return size <= std::numeric_limits<ULONG>::max();
}

PUCHAR InputBytes(const void* data) noexcept {
  return static_cast<PUCHAR>(const_cast<void*>(data));
}

}  // namespace

std::array<std::uint8_t, kSha256Bytes> Sha256Bytes(std::span<const std::uint8_t> bytes) {
  if (!FitsUlong(bytes.size())) {
    ThrowUpdateValidationFailed();
  }
  std::array<std::uint8_t, kSha256Bytes> digest{};
  const NTSTATUS status =
      ::BCryptHash(kSha256AlgorithmHandle, nullptr, 0, InputBytes(bytes.data()),
                   static_cast<ULONG>(bytes.size()), digest.data(), kSha256Bytes);
  if (!Succeeded(status)) {
    ThrowUpdateValidationFailed();
  }
  return digest;
}

bool VerifyEcdsaP256Signature(std::span<const std::uint8_t> public_key_blob,
                              std::span<const std::uint8_t> signature,
                              std::string_view signed_bytes) {
  if (!FitsUlong(public_key_blob.size()) || !FitsUlong(signature.size())) {
    return false;
  }
  const std::array<std::uint8_t, kSha256Bytes> digest = Sha256Bytes(
      std::span(reinterpret_cast<const std::uint8_t*>(signed_bytes.data()), signed_bytes.size()));

  UniqueAlgorithmHandle provider;
  if (!Succeeded(
          ::BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  UniqueKeyHandle key;
  if (!Succeeded(::BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(),
                                       InputBytes(public_key_blob.data()),
                                       static_cast<ULONG>(public_key_blob.size()), 0))) {
    return false;
  }
  const NTSTATUS verified = ::BCryptVerifySignature(
      key.get(), nullptr, InputBytes(digest.data()), static_cast<ULONG>(digest.size()),
      InputBytes(signature.data()), static_cast<ULONG>(signature.size()), 0);
  // The key is destroyed before the provider closes (reverse order of the holders).
  return Succeeded(verified);
}

std::uint64_t ReadSystemFileTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

std::string_view UpdatePublicKeyHex() noexcept {
  return kUpdatePublicKeyHex;
}

VerifiedManifest VerifyUpdateManifest(std::string_view manifest_text,
                                      std::string_view role,
                                      std::string_view current_version,
                                      std::uint64_t minimum_sequence) {
  const ManifestTrust trust{UpdatePublicKeyHex(), VerifyEcdsaP256Signature, ReadSystemFileTime};
  return VerifyUpdateManifestWith(trust, manifest_text, role, current_version, minimum_sequence);
}

}  // namespace vexo
