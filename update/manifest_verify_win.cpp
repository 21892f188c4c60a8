#include "update/manifest_verify_win.h"

#include <windows.h>

#include <bcrypt.h>

#include <limits>

#include "common/cng.h"
#include "common/handles.h"
#include "update/update_error.h"
#include "update/update_public_key.h"

namespace vexo {
namespace {

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

Sha256Digest UpdateSha256(std::span<const std::uint8_t> bytes) {
  return Sha256Bytes(bytes, [](Sha256Step) { ThrowUpdateValidationFailed(); });
}

bool VerifyEcdsaP256Signature(std::span<const std::uint8_t> public_key_blob,
                              std::span<const std::uint8_t> signature,
                              std::string_view signed_bytes) {
  if (!FitsUlong(public_key_blob.size()) || !FitsUlong(signature.size())) {
    return false;
  }
  const Sha256Digest digest = UpdateSha256(
      std::span(reinterpret_cast<const std::uint8_t*>(signed_bytes.data()), signed_bytes.size()));

  const CngFunctions* cng = Cng();
  if (cng == nullptr) {
    return false;
  }
  UniqueAlgorithmHandle provider;
  if (!Succeeded(
          cng->open_algorithm_provider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  UniqueKeyHandle key;
  if (!Succeeded(cng->import_key_pair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(),
                                      InputBytes(public_key_blob.data()),
                                      static_cast<ULONG>(public_key_blob.size()), 0))) {
    return false;
  }
  const NTSTATUS verified = cng->verify_signature(
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
