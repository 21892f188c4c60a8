#include "payload/payload_check.h"

#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "common/error_codes.h"
#include "common/failure.h"
#include "common/hex.h"
#include "common/last_error.h"
#include "payload/embedded_catalogue.h"
#include "payload/messages.h"

namespace vexo {
namespace {

constexpr std::size_t kDigestHexLength = 2 * kSha256Bytes;
constexpr DWORD kFileReadChunkBytes = 65536;

// Each failed hashing step in the payload check's own words.
[[noreturn]] void ThrowPayloadHashFailure(Sha256Step step) {
  switch (step) {
    case Sha256Step::kOpenProvider:
      ThrowFailure(message::kHashNotPrepared, error::kInvalidData);
    case Sha256Step::kReadObjectLength:
      ThrowFailure(message::kHashInfoInvalid, error::kInvalidData);
    case Sha256Step::kCreateHash:
      ThrowFailure(message::kHashNotStarted, error::kInvalidData);
    case Sha256Step::kHashData:
      ThrowFailure(message::kHashFailed, error::kInvalidData);
    case Sha256Step::kFinishHash:
      ThrowFailure(message::kDigestNotObtained, error::kInvalidData);
  }
  ThrowFailure(message::kHashFailed, error::kInvalidData);
}

// Folding every ASCII letter folds A-F; any other letter can never match a rendered digest.
std::string FoldedDigest(const char* digest) {
  std::string text(digest);
  for (char& c : text) {
    c = FoldAsciiCase(c);
  }
  return text;
}

void RewindFile(HANDLE file, const wchar_t* failure_message) {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    ThrowLastError(failure_message);
  }
}

// Reads an open file from offset 0 to its end, chunk by chunk, through one 64 KiB buffer.
void ReadFromStart(HANDLE file, const std::function<void(std::span<const std::uint8_t>)>& take) {
  RewindFile(file, message::kVerifiedFileSeekFailed);
  std::vector<std::uint8_t> chunk(kFileReadChunkBytes, 0);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file, chunk.data(), kFileReadChunkBytes, &read, nullptr)) {
      ThrowLastError(message::kVerifiedFileReadFailed);
    }
    if (read == 0) {
      return;
    }
    take(std::span<const std::uint8_t>(chunk.data(), read));
  }
}

}  // namespace

Sha256Hasher NewPayloadHasher() {
  return Sha256Hasher(ThrowPayloadHashFailure);
}

void FinishAndCompareDigest(Sha256Hasher& hasher, const char* expected_digest) {
  if (expected_digest == nullptr ||
      ::strnlen(expected_digest, kDigestHexLength + 1) != kDigestHexLength) {
    ThrowFailure(message::kDigestInfoInvalid, error::kInvalidData);
  }
  if (ToLowerHex(hasher.Finish()) != FoldedDigest(expected_digest)) {
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
  const PayloadView view{static_cast<const std::uint8_t*>(bytes), size};
  Sha256Hasher hasher = NewPayloadHasher();
  hasher.Add(std::span(view.data, view.size));
  FinishAndCompareDigest(hasher, entry.expected_digest);
  return view;
}

PayloadView LoadVerifiedResource(const PayloadEntry& entry) {
  return LoadVerifiedResourceFrom(::GetModuleHandleW(nullptr), entry);
}

void VerifyFileDigest(HANDLE file, const char* expected_digest) {
  Sha256Hasher hasher = NewPayloadHasher();
  ReadFromStart(file, [&hasher](std::span<const std::uint8_t> chunk) { hasher.Add(chunk); });
  FinishAndCompareDigest(hasher, expected_digest);
  RewindFile(file, message::kVerifiedFileRewindFailed);
}

void VerifyPayloadOrLeadingPart(HANDLE file, const PayloadEntry& entry) {
  const PayloadView payload = LoadVerifiedResource(entry);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) {
    ThrowLastError(message::kVerifiedFileReadFailed);
  }
  if (size.QuadPart >= payload.size) {
    VerifyFileDigest(file, entry.expected_digest);
    return;
  }
  std::uint64_t offset = 0;
  bool leading = true;
  ReadFromStart(file, [&](std::span<const std::uint8_t> chunk) {
    leading = leading && offset + chunk.size() <= payload.size &&
              std::memcmp(payload.data + offset, chunk.data(), chunk.size()) == 0;
    offset += chunk.size();
  });
  if (!leading) {
    ThrowFailure(message::kVersionMismatch, error::kInvalidData);
  }
  RewindFile(file, message::kVerifiedFileRewindFailed);
}

void VerifyEmbeddedPayload() {
  VerifyPayloadCatalogue();
  for (const PayloadEntry& entry : kPayloadCatalogue) {
    LoadVerifiedResource(entry);
  }
}

}  // namespace vexo
