// Fuzzes the manifest envelope and payload rules with a signature check that accepts, so
// every field rule is reachable, and checks what an accepted manifest promises.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "update/manifest.h"
#include "update/version.h"

namespace {

constexpr std::uint64_t kNowFileTime =
    1800000000ull * vexo::kFileTimeTicksPerSecond + vexo::kUnixEpochAsFileTime;
constexpr char kKeyHex[] =
    "4543533120000000"
    "1111111111111111111111111111111111111111111111111111111111111111"
    "2222222222222222222222222222222222222222222222222222222222222222";

void Require(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vexo::ManifestTrust trust{kKeyHex,
                                  [](std::span<const std::uint8_t> key,
                                     std::span<const std::uint8_t> signature, std::string_view) {
                                    Require(key.size() == vexo::kPublicKeyBlobBytes);
                                    Require(signature.size() == vexo::kSignatureBytes);
                                    return true;
                                  },
                                  [] { return kNowFileTime; }};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const vexo::VerifiedManifest m =
        vexo::VerifyUpdateManifestWith(trust, text, "host", "0.2.1", 2);
    Require(size <= vexo::kMaxManifestBytes);
    Require(vexo::IsLowerHexOfLength(m.sha256, vexo::kSha256HexLength));
    Require(m.path == vexo::ProgramFileRequestPath(m.sha256));
    Require(m.bytes >= vexo::kMinProgramBytes && m.bytes <= vexo::kMaxProgramBytes);
    Require(m.sequence >= 2 && m.sequence < vexo::kSequenceLimit);
    Require(vexo::CompareVersions(vexo::ParseVersion(m.version), vexo::ParseVersion("0.2.1")) >= 0);
  } catch (const nlohmann::json::exception&) {
  } catch (const std::runtime_error&) {
  }
  return 0;
}
