// A bare CNG SHA-256 loop, the floor of the launcher's payload check: each file is read in
// 64 KiB pieces and hashed with CNG, with nothing else around it.
//
//   vexo-bench-cng-sha256 FILE DIGEST [FILE DIGEST]...
//
// Exit code 0 when every file hashes to its lower-case hex digest (so the bench knows the loop
// hashed the very bytes it was given), 13 when one does not or cannot be read, 87 for a bad
// command line. A GUI program like the launcher, so that neither gets a console of its own.
#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/hex.h"

namespace {

constexpr DWORD kReadBytes = 65536;
constexpr ULONG kDigestBytes = 32;
constexpr int kExitMismatch = ERROR_INVALID_DATA;
constexpr int kExitUsage = ERROR_INVALID_PARAMETER;

void CloseProvider(BCRYPT_ALG_HANDLE provider) noexcept {
  ::BCryptCloseAlgorithmProvider(provider, 0);
}
void DestroyHash(BCRYPT_HASH_HANDLE hash) noexcept {
  ::BCryptDestroyHash(hash);
}
using UniqueProvider =
    vexo::UniqueResource<vexo::NullableTraits<BCRYPT_ALG_HANDLE, &CloseProvider>>;
using UniqueHash = vexo::UniqueResource<vexo::NullableTraits<BCRYPT_HASH_HANDLE, &DestroyHash>>;

bool Succeeded(NTSTATUS status) noexcept {
  return status >= 0;
}

// The file's SHA-256 as lower-case hex; empty when it cannot be read or hashed.
std::wstring FileDigest(BCRYPT_ALG_HANDLE provider, const wchar_t* path) {
  const vexo::UniqueHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  UniqueHash hash;
  if (!file || !Succeeded(::BCryptCreateHash(provider, hash.put(), nullptr, 0, nullptr, 0, 0))) {
    return {};
  }
  std::vector<std::uint8_t> chunk(kReadBytes);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), chunk.data(), kReadBytes, &read, nullptr)) {
      return {};
    }
    if (read == 0) {
      break;
    }
    if (!Succeeded(::BCryptHashData(hash.get(), chunk.data(), read, 0))) {
      return {};
    }
  }
  std::array<std::uint8_t, kDigestBytes> digest{};
  if (!Succeeded(::BCryptFinishHash(hash.get(), digest.data(), kDigestBytes, 0))) {
    return {};
  }
  return vexo::ToLowerHexWide(digest);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (__argc < 3 || __argc % 2 == 0) {
    return kExitUsage;
  }
  UniqueProvider provider;
  if (!Succeeded(
          ::BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return kExitMismatch;
  }
  for (int i = 1; i + 1 < __argc; i += 2) {
    if (FileDigest(provider.get(), __wargv[i]) != __wargv[i + 1]) {
      return kExitMismatch;
    }
  }
  return 0;
}
