#include "update/manifest.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "update/strict_json.h"
#include "update/update_error.h"
#include "update/version.h"

namespace vexo {
namespace {

using nlohmann::json;

bool IsObjectWithMembers(const json& value, std::size_t members) noexcept {
  return value.is_object() && value.size() == members;
}

// A string member equal to `expected`; another JSON type is simply unequal.
bool IsStringEqualTo(const json& value, std::string_view expected) noexcept {
  return value.is_string() && value.get_ref<const std::string&>() == expected;
}

// Numerically equal to the schema number: 1 and 1.0 are, "1" is not.
bool IsSchemaNumber(const json& value) noexcept {
  if (value.is_number_unsigned()) {
    return value.get<std::uint64_t>() == kManifestSchema;
  }
  if (value.is_number_integer()) {
    return value.get<std::int64_t>() == static_cast<std::int64_t>(kManifestSchema);
  }
  if (value.is_number_float()) {
    return value.get<double>() == static_cast<double>(kManifestSchema);
  }
  return false;
}

std::uint64_t RequireNonNegativeInteger(const json& value) {
  RequireUpdate(IsNonNegativeInteger(value));
  return value.get<std::uint64_t>();
}

// Steps 3 to 7: the envelope and the signature over the payload bytes. Returns the payload.
std::string CheckEnvelopeAndSignature(const ManifestTrust& trust, const json& envelope) {
  RequireUpdate(IsObjectWithMembers(envelope, kEnvelopeMembers));
  RequireUpdate(IsStringEqualTo(envelope.at("keyId"), kUpdateKeyId));
  const std::string& payload = envelope.at("payload").get_ref<const std::string&>();
  const std::string& signature_hex = envelope.at("signature").get_ref<const std::string&>();
  RequireUpdate(payload.size() <= kMaxSignedPayloadBytes);
  RequireUpdate(IsLowerHexOfLength(signature_hex, kSignatureHexLength));
  const std::vector<std::uint8_t> public_key = DecodeLowerHex(trust.public_key_hex);
  const std::vector<std::uint8_t> signature = DecodeLowerHex(signature_hex);
  RequireUpdate(public_key.size() == kPublicKeyBlobBytes && signature.size() == kSignatureBytes);
  RequireUpdate(static_cast<bool>(trust.check_signature) &&
                trust.check_signature(public_key, signature, payload));
  return payload;
}

// Steps 10 to 12: issuedAt not ahead of the clock by more than the grace, expiresAt ahead
// of the clock and within the validity window after issuedAt. The clock is read twice.
void CheckValidityTimes(const ManifestTrust& trust, const json& document) {
  const std::uint64_t issued_at = RequireNonNegativeInteger(document.at("issuedAt"));
  const std::uint64_t expires_at = RequireNonNegativeInteger(document.at("expiresAt"));
  RequireUpdate(static_cast<bool>(trust.read_clock));
  const std::uint64_t now = UnixSecondsFromFileTime(trust.read_clock());
  RequireUpdate(issued_at <= now + kMaxIssuedAtAheadSeconds);
  const std::uint64_t now_again = UnixSecondsFromFileTime(trust.read_clock());
  RequireUpdate(expires_at > now_again);
  RequireUpdate(expires_at > issued_at);
  RequireUpdate(expires_at - issued_at <= kMaxValiditySeconds);
}

// Step 15: the program file's digest, size and request path.
void CheckProgramFile(const json& file, VerifiedManifest& result) {
  RequireUpdate(IsObjectWithMembers(file, kFileMembers));
  result.sha256 = file.at("sha256").get<std::string>();
  RequireUpdate(IsLowerHexOfLength(result.sha256, kSha256HexLength));
  result.bytes = RequireNonNegativeInteger(file.at("bytes"));
  RequireUpdate(result.bytes >= kMinProgramBytes && result.bytes <= kMaxProgramBytes);
  result.path = file.at("path").get<std::string>();
  RequireUpdate(result.path == ProgramFileRequestPath(result.sha256));
}

}  // namespace

std::vector<std::uint8_t> DecodeLowerHex(std::string_view text) {
  std::optional<std::vector<std::uint8_t>> bytes = ParseLowerHex(text);
  RequireUpdate(bytes.has_value());
  return std::move(*bytes);
}

std::uint64_t UnixSecondsFromFileTime(std::uint64_t file_time) {
  RequireUpdate(file_time >= kUnixEpochAsFileTime);
  return (file_time - kUnixEpochAsFileTime) / kFileTimeTicksPerSecond;
}

std::string ProgramFileRequestPath(std::string_view sha256) {
  std::string path = kProgramFileRequestPrefix;
  path.append(sha256);
  path.append(kProgramFileSuffix);
  return path;
}

VerifiedManifest VerifyUpdateManifestWith(const ManifestTrust& trust,
                                          std::string_view manifest_text,
                                          std::string_view role,
                                          std::string_view current_version,
                                          std::uint64_t minimum_sequence) {
  RequireUpdate(manifest_text.size() <= kMaxManifestBytes);
  const std::string payload = CheckEnvelopeAndSignature(trust, ParseStrictJson(manifest_text));

  const json document = ParseStrictJson(payload);
  RequireUpdate(IsObjectWithMembers(document, kPayloadMembers));
  RequireUpdate(IsSchemaNumber(document.at("schema")));
  RequireUpdate(IsStringEqualTo(document.at("brand"), kManifestBrand));
  RequireUpdate(IsStringEqualTo(document.at("role"), role));
  RequireUpdate(IsStringEqualTo(document.at("platform"), kManifestPlatform));
  RequireUpdate(IsStringEqualTo(document.at("channel"), kManifestChannel));
  CheckValidityTimes(trust, document);

  VerifiedManifest result;
  result.version = document.at("version").get<std::string>();
  const ProgramVersion current = ParseVersion(current_version);
  const ProgramVersion offered = ParseVersion(result.version);
  RequireUpdate(CompareVersions(offered, current) >= 0);

  result.sequence = RequireNonNegativeInteger(document.at("sequence"));
  RequireUpdate(result.sequence >= minimum_sequence && result.sequence < kSequenceLimit);

  CheckProgramFile(document.at("file"), result);
  return result;
}

}  // namespace vexo
