// The floor of the launcher's update check that finds nothing newer, done in the same world as
// the launcher: WinHTTP fetches the manifest over HTTPS from the update host, and CNG checks an
// ECDSA P-256 signature over its signed bytes. Taking the envelope apart is left out, as in every
// floor of the bench; the signed bytes and the signature come from the command line's files.
//
//   vexo-bench-fetch-verify HOST PATH ENVELOPE SIGNED_BYTES PUBLIC_KEY_HEX SIGNATURE_HEX
//
// Exit code 0 when the body fetched is exactly the file ENVELOPE and the signature verifies (so
// the bench knows the floor did its whole work), 13 when either is not so or the answer is not
// 200, the step's own error code when a step of the request fails (a WinHTTP code, 12001 to
// 12199, for a failed transfer), 87 for a bad command line. A GUI program like the launcher, so
// that neither gets a console.
#include <windows.h>

#include <bcrypt.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/handles.h"
#include "common/hex.h"

namespace {

constexpr DWORD kExitMismatch = ERROR_INVALID_DATA;
constexpr int kExitUsage = ERROR_INVALID_PARAMETER;
constexpr wchar_t kUserAgent[] = L"vexo-bench";
constexpr wchar_t kGet[] = L"GET";

void CloseInternet(HINTERNET handle) noexcept {
  ::WinHttpCloseHandle(handle);
}
using UniqueInternet = vexo::UniqueResource<vexo::NullableTraits<HINTERNET, &CloseInternet>>;

using Bytes = std::vector<std::uint8_t>;

std::optional<Bytes> ReadWholeFile(const wchar_t* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// Lower-case hex given on the command line, as bytes.
std::optional<Bytes> DecodeHex(std::wstring_view text) {
  std::string ascii;
  for (const wchar_t c : text) {
    ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return vexo::ParseLowerHex(ascii);
}

// What GET https://HOST/PATH gave: the body, or the last error of the step that failed
// (kExitMismatch for an answer other than 200).
struct Fetched {
  Bytes body;
  DWORD error = 0;
};

Fetched FetchOverHttps(const wchar_t* host, const wchar_t* path) {
  // Read before the holders close their handles, which may change it.
  const auto failed = [] {
    const DWORD error = ::GetLastError();
    return Fetched{{}, error != 0 ? error : kExitMismatch};
  };
  const UniqueInternet session(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  const UniqueInternet connection(
      session ? ::WinHttpConnect(session.get(), host, INTERNET_DEFAULT_HTTPS_PORT, 0) : nullptr);
  const UniqueInternet request(
      connection ? ::WinHttpOpenRequest(connection.get(), kGet, path, nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                 : nullptr);
  if (!request ||
      !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request.get(), nullptr)) {
    return failed();
  }
  DWORD status = 0;
  DWORD status_bytes = sizeof(status);
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return failed();
  }
  if (status != HTTP_STATUS_OK) {
    return Fetched{{}, kExitMismatch};
  }
  Fetched fetched;
  for (;;) {
    std::uint8_t chunk[16384];
    DWORD read = 0;
    if (!::WinHttpReadData(request.get(), chunk, sizeof(chunk), &read)) {
      return failed();
    }
    if (read == 0) {
      return fetched;
    }
    fetched.body.insert(fetched.body.end(), chunk, chunk + read);
  }
}

bool Succeeded(NTSTATUS status) noexcept {
  return status >= 0;
}

// CNG takes its input buffers as PUCHAR but does not write to them.
PUCHAR InputBytes(const Bytes& bytes) noexcept {
  return const_cast<PUCHAR>(bytes.data());
}

// Whether `signature` (r and s) is the ECDSA P-256 signature over the SHA-256 of `signed_bytes`
// by the key whose BCRYPT_ECCPUBLIC_BLOB is `public_key`.
bool SignatureVerifies(const Bytes& public_key, const Bytes& signature, const Bytes& signed_bytes) {
  vexo::UniqueAlgorithmHandle sha256;
  vexo::UniqueHashHandle hash;
  std::uint8_t digest[32]{};
  if (!Succeeded(
          ::BCryptOpenAlgorithmProvider(sha256.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Succeeded(::BCryptCreateHash(sha256.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
      !Succeeded(::BCryptHashData(hash.get(), InputBytes(signed_bytes),
                                  static_cast<ULONG>(signed_bytes.size()), 0)) ||
      !Succeeded(::BCryptFinishHash(hash.get(), digest, sizeof(digest), 0))) {
    return false;
  }
  vexo::UniqueAlgorithmHandle ecdsa;
  vexo::UniqueKeyHandle key;
  return Succeeded(
             ::BCryptOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
         Succeeded(::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(),
                                         InputBytes(public_key),
                                         static_cast<ULONG>(public_key.size()), 0)) &&
         Succeeded(::BCryptVerifySignature(key.get(), nullptr, digest, sizeof(digest),
                                           InputBytes(signature),
                                           static_cast<ULONG>(signature.size()), 0));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (__argc != 7) {
    return kExitUsage;
  }
  const std::optional<Bytes> envelope = ReadWholeFile(__wargv[3]);
  const std::optional<Bytes> signed_bytes = ReadWholeFile(__wargv[4]);
  const std::optional<Bytes> public_key = DecodeHex(__wargv[5]);
  const std::optional<Bytes> signature = DecodeHex(__wargv[6]);
  if (!envelope || !signed_bytes || !public_key || !signature) {
    return kExitUsage;
  }
  const Fetched fetched = FetchOverHttps(__wargv[1], __wargv[2]);
  if (fetched.error != 0) {
    return static_cast<int>(fetched.error);
  }
  const bool whole =
      fetched.body == *envelope && SignatureVerifies(*public_key, *signature, *signed_bytes);
  return whole ? 0 : static_cast<int>(kExitMismatch);
}
