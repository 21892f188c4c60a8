#include "common/sha256.h"

#include <bcrypt.h>

#include <exception>
#include <limits>

#include "common/cng.h"

namespace vexo {
namespace {

constexpr ULONG kMaxHashObjectBytes = 65536;

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

bool FitsUlong(std::size_t size) noexcept {
  return size <= std::numeric_limits<ULONG>::max();
}

// CNG takes non-const input pointers that it does not write through.
PUCHAR InputBytes(std::span<const std::uint8_t> bytes) noexcept {
  return const_cast<PUCHAR>(bytes.data());
}

[[noreturn]] void Report(Sha256FailureHandler on_failure, Sha256Step step) {
  on_failure(step);
  std::terminate();  // a handler that returns is a programming error
}

// CNG from the system folder; without it no provider can be opened.
const CngFunctions& RequireCng(Sha256FailureHandler on_failure) {
  const CngFunctions* cng = Cng();
  if (cng == nullptr) {
    Report(on_failure, Sha256Step::kOpenProvider);
  }
  return *cng;
}

}  // namespace

Sha256Hasher::Sha256Hasher(Sha256FailureHandler on_failure)
    : on_failure_(on_failure), cng_(RequireCng(on_failure)) {
  if (!Succeeded(
          cng_.open_algorithm_provider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    static_cast<void>(provider_.release());  // nothing was opened
    Fail(Sha256Step::kOpenProvider);
  }
  DWORD object_length = 0;
  ULONG written = 0;
  const NTSTATUS status = cng_.get_property(provider_.get(), BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&object_length),
                                            sizeof(object_length), &written, 0);
  if (!Succeeded(status) || written != sizeof(object_length) || object_length == 0 ||
      object_length > kMaxHashObjectBytes) {
    Fail(Sha256Step::kReadObjectLength);
  }
  object_.assign(object_length, 0);
  if (!Succeeded(cng_.create_hash(provider_.get(), hash_.put(), object_.data(), object_length,
                                  nullptr, 0, 0))) {
    static_cast<void>(hash_.release());  // nothing was created
    Fail(Sha256Step::kCreateHash);
  }
}

void Sha256Hasher::Add(std::span<const std::uint8_t> bytes) {
  if (!FitsUlong(bytes.size()) || !Succeeded(cng_.hash_data(hash_.get(), InputBytes(bytes),
                                                            static_cast<ULONG>(bytes.size()), 0))) {
    Fail(Sha256Step::kHashData);
  }
}

Sha256Digest Sha256Hasher::Finish() {
  Sha256Digest digest{};
  if (!Succeeded(cng_.finish_hash(hash_.get(), digest.data(), kSha256Bytes, 0))) {
    Fail(Sha256Step::kFinishHash);
  }
  return digest;
}

void Sha256Hasher::Fail(Sha256Step step) const {
  Report(on_failure_, step);
}

Sha256Digest Sha256Bytes(std::span<const std::uint8_t> bytes, Sha256FailureHandler on_failure) {
  const CngFunctions& cng = RequireCng(on_failure);
  Sha256Digest digest{};
  if (!FitsUlong(bytes.size()) ||
      !Succeeded(cng.hash(kSha256AlgorithmHandle, nullptr, 0, InputBytes(bytes),
                          static_cast<ULONG>(bytes.size()), digest.data(), kSha256Bytes))) {
    Report(on_failure, Sha256Step::kHashData);
  }
  return digest;
}

}  // namespace vexo
