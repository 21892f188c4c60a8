#include "payload/payload_check.h"

#include <array>
#include <cstring>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/hex.h"
#include "payload/messages.h"

namespace vexo {
namespace {

constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kDigestHexLength = 64;
constexpr ULONG kMaxHashObjectBytes = 65536;
constexpr DWORD kFileReadChunkBytes = 65536;

bool Succeeded(NTSTATUS status) noexcept {
  return status >= 0;
}

// Only the letters A-F are folded: anything else that is not a lower-case hex digit can
// never match the rendered digest.
std::string FoldHexLetters(const char* digest) {
  std::string text(digest);
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

void RewindFile(HANDLE file, const wchar_t* failure_message) {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    ThrowFailure(failure_message, ::GetLastError());
  }
}

}  // namespace

Sha256Hasher::Sha256Hasher() {
  if (!Succeeded(
          ::BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    static_cast<void>(provider_.release());  // nothing was opened
    ThrowFailure(message::kHashNotPrepared, error::kInvalidData);
  }
  DWORD object_length = 0;
  ULONG written = 0;
  const NTSTATUS status = ::BCryptGetProperty(provider_.get(), BCRYPT_OBJECT_LENGTH,
                                              reinterpret_cast<PUCHAR>(&object_length),
                                              sizeof(object_length), &written, 0);
  if (!Succeeded(status) || written != sizeof(object_length) || object_length == 0 ||
      object_length > kMaxHashObjectBytes) {
    ThrowFailure(message::kHashInfoInvalid, error::kInvalidData);
  }
  object_.assign(object_length, 0);
  if (!Succeeded(::BCryptCreateHash(provider_.get(), hash_.put(), object_.data(), object_length,
                                    nullptr, 0, 0))) {
    static_cast<void>(hash_.release());  // nothing was created
    ThrowFailure(message::kHashNotStarted, error::kInvalidData);
  }
}

void Sha256Hasher::Add(const void* data, std::uint32_t size) {
  // CNG takes a non-const pointer but does not write through it.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  if (!Succeeded(::BCryptHashData(hash_.get(), bytes, size, 0))) {
    ThrowFailure(message::kHashFailed, error::kInvalidData);
  }
}

void FinishAndCompareDigest(Sha256Hasher& hasher, const char* expected_digest) {
  if (expected_digest == nullptr ||
      ::strnlen(expected_digest, kDigestHexLength + 1) != kDigestHexLength) {
    ThrowFailure(message::kDigestInfoInvalid, error::kInvalidData);
  }
  std::array<std::uint8_t, kDigestBytes> digest{};
  if (!Succeeded(::BCryptFinishHash(hasher.hash(), digest.data(), kDigestBytes, 0))) {
    ThrowFailure(message::kDigestNotObtained, error::kInvalidData);
  }
  if (ToLowerHex(digest) != FoldHexLetters(expected_digest)) {
    ThrowFailure(message::kVersionMismatch, error::kInvalidData);
  }
}

PayloadView LoadVerifiedResourceFrom(HMODULE module, const PayloadEntry& entry) {
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(entry.resource_id), RT_RCDATA);
  if (resource == nullptr) {
    ThrowFailure(message::kPayloadResourceMissing, error::kResourceDataNotFound);
  }
  const DWORD size = ::SizeofResource(module, resource);
  HGLOBAL loaded = ::LoadResource(module, resource);
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0 || size > kMaxPayloadResourceBytes) {
    ThrowFailure(message::kPayloadSizeInvalid, error::kInvalidData);
  }
  Sha256Hasher hasher;
  hasher.Add(bytes, size);
  FinishAndCompareDigest(hasher, entry.expected_digest);
  return PayloadView{static_cast<const std::uint8_t*>(bytes), size};
}

PayloadView LoadVerifiedResource(const PayloadEntry& entry) {
  return LoadVerifiedResourceFrom(::GetModuleHandleW(nullptr), entry);
}

void VerifyFileDigest(HANDLE file, const char* expected_digest) {
  Sha256Hasher hasher;
  RewindFile(file, message::kVerifiedFileSeekFailed);
  std::vector<std::uint8_t> chunk(kFileReadChunkBytes, 0);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, chunk.data(), kFileReadChunkBytes, &read, nullptr)) {
      ThrowFailure(message::kVerifiedFileReadFailed, ::GetLastError());
    }
    if (read == 0) {
      break;
    }
    hasher.Add(chunk.data(), read);
  }
  FinishAndCompareDigest(hasher, expected_digest);
  RewindFile(file, message::kVerifiedFileRewindFailed);
}

void VerifyEmbeddedPayload() {
  VerifyPayloadCatalogue();
  for (const PayloadEntry& entry : kPayloadCatalogue) {
    LoadVerifiedResource(entry);
  }
}

}  // namespace vexo
