// Envelope and payload rules of the update manifest, with an accepting signature check and a
// fixed clock, so each rule is reached on its own. Grammars shared by several fields (the
// integer form, the version) are tested once, on one field.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "update/manifest.h"
#include "update/update_error.h"

namespace vexo {
namespace {

constexpr std::uint64_t kNow = 1800000000;  // 2027-01-15, Unix seconds
constexpr std::uint64_t kDay = 86400;
constexpr char kSha[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
constexpr char kPath[] = "/api/program-updates/v1/files/";
constexpr char kKeyHex[] =
    "4543533120000000"
    "1111111111111111111111111111111111111111111111111111111111111111"
    "2222222222222222222222222222222222222222222222222222222222222222";

// Members in order with their raw JSON text, so a test can write any form a hostile server
// could send; an empty raw value leaves the member out.
using Members = std::vector<std::pair<std::string, std::string>>;

std::string Object(const Members& members) {
  std::string text;
  for (const auto& [name, raw] : members) {
    if (!raw.empty()) {
      text += text.empty() ? "\"" : ",\"";
      text += name + "\":" + raw;
    }
  }
  return "{" + text + "}";
}

std::string Quoted(const std::string& text) {
  return nlohmann::json(text).dump();
}

std::string Number(std::uint64_t value) {
  return std::to_string(value);
}

Members With(Members members, const std::string& name, const std::string& raw) {
  for (auto& member : members) {
    if (member.first == name) {
      member.second = raw;
      return members;
    }
  }
  members.emplace_back(name, raw);
  return members;
}

const Members kFile = {{"sha256", Quoted(kSha)},
                       {"bytes", "65536"},
                       {"path", Quoted(kPath + std::string(kSha) + ".exe")}};
const Members kPayload = {{"schema", "1"},
                          {"brand", Quoted("vexolink")},
                          {"role", Quoted("host")},
                          {"platform", Quoted("windows-x64")},
                          {"channel", Quoted("stable")},
                          {"issuedAt", Number(kNow - 60)},
                          {"expiresAt", Number(kNow + 30 * kDay)},
                          {"version", Quoted("0.2.2")},
                          {"sequence", "7"},
                          {"file", Object(kFile)}};

Members Envelope(const std::string& payload, const std::string& signature = std::string(128, 'a')) {
  return {{"keyId", Quoted("vexo-update-2026-01")},
          {"payload", Quoted(payload)},
          {"signature", Quoted(signature)}};
}

enum class Outcome { kAccepted, kRefused, kJsonError };

std::uint64_t FileTimeOf(std::uint64_t unix_seconds) {
  return unix_seconds * kFileTimeTicksPerSecond + kUnixEpochAsFileTime;
}

// Stands in for the system parts and records what the rule code hands them.
struct FakeSystem {
  bool signature_valid = true;
  std::vector<std::uint64_t> clock = {FileTimeOf(kNow)};
  int signature_checks = 0;
  std::size_t clock_reads = 0;
  std::string signed_bytes;
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> signature;
  VerifiedManifest manifest;

  Outcome Verify(const std::string& text, std::uint64_t minimum_sequence = 2) {
    const ManifestTrust trust{kKeyHex,
                              [this](std::span<const std::uint8_t> k,
                                     std::span<const std::uint8_t> s, std::string_view bytes) {
                                ++signature_checks;
                                key.assign(k.begin(), k.end());
                                signature.assign(s.begin(), s.end());
                                signed_bytes = bytes;
                                return signature_valid;
                              },
                              [this] { return clock[std::min(clock_reads++, clock.size() - 1)]; }};
    try {
      manifest = VerifyUpdateManifestWith(trust, text, "host", "0.2.1", minimum_sequence);
      return Outcome::kAccepted;
    } catch (const nlohmann::json::exception&) {
      return Outcome::kJsonError;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), kUpdateValidationFailed);  // the update's one refusal text
      return Outcome::kRefused;
    }
  }
};

TEST(ManifestRulesTest, ValidManifestGivesEveryFieldAndTheCheckSeesTheSignedBytes) {
  FakeSystem system;
  const std::string payload = Object(kPayload);
  ASSERT_EQ(system.Verify(Object(Envelope(payload))), Outcome::kAccepted);
  EXPECT_EQ(system.manifest.version, "0.2.2");
  EXPECT_EQ(system.manifest.sha256, kSha);
  EXPECT_EQ(system.manifest.path, kPath + std::string(kSha) + ".exe");
  EXPECT_EQ(system.manifest.bytes, 65536u);
  EXPECT_EQ(system.manifest.sequence, 7u);
  EXPECT_EQ(system.signature_checks, 1);
  EXPECT_EQ(system.signed_bytes, payload);
  EXPECT_EQ(system.key, DecodeLowerHex(kKeyHex));
  EXPECT_EQ(system.signature, std::vector<std::uint8_t>(64, 0xaa));
  EXPECT_EQ(system.clock_reads, 2u);  // once for issuedAt, again for expiresAt
}

TEST(ManifestRulesTest, Envelope) {
  const std::string payload = Object(kPayload);
  const Members valid = Envelope(payload);
  const auto padded = [](std::string text, std::size_t size) {
    text.resize(size, ' ');
    return text;
  };
  const struct {
    const char* name;
    std::string text;
    Outcome expected;
  } cases[] = {
      {"trailing white space", Object(valid) + " \r\n\t", Outcome::kAccepted},
      {"16384 bytes", padded(Object(valid), 16384), Outcome::kAccepted},
      {"16385 bytes", padded(Object(valid), 16385), Outcome::kRefused},
      {"16385 bytes, refused before parsing", padded("x" + Object(valid), 16385),
       Outcome::kRefused},
      {"payload of 8191 bytes", Object(Envelope(padded(payload, 8191))), Outcome::kAccepted},
      {"payload of 8192 bytes", Object(Envelope(padded(payload, 8192))), Outcome::kRefused},
      {"fourth member", Object(With(valid, "comment", Quoted("hi"))), Outcome::kRefused},
      {"keyId missing", Object(With(valid, "keyId", "")), Outcome::kRefused},
      {"keyId other", Object(With(valid, "keyId", Quoted("vexo-update-2025-01"))),
       Outcome::kRefused},
      {"keyId renamed", Object(With(With(valid, "keyId", ""), "keyid", Quoted("x"))),
       Outcome::kJsonError},
      {"payload object", Object(With(valid, "payload", payload)), Outcome::kJsonError},
      {"signature upper case", Object(Envelope(payload, std::string(128, 'A'))), Outcome::kRefused},
      {"signature 127 digits", Object(Envelope(payload, std::string(127, 'a'))), Outcome::kRefused},
      {"signature DER", Object(Envelope(payload, "3045022100" + std::string(134, 'a'))),
       Outcome::kRefused},
      {"array", "[" + Object(valid) + "]", Outcome::kRefused},
      {"second value", Object(valid) + Object(valid), Outcome::kJsonError},
      {"duplicate keyId", "{\"keyId\":\"x\"," + Object(valid).substr(1), Outcome::kRefused},
      {"comment", "/* x */" + Object(valid), Outcome::kJsonError},
      {"invalid UTF-8", Object(With(valid, "keyId", "\"\xff\"")), Outcome::kJsonError},
  };
  for (const auto& c : cases) {
    FakeSystem system;
    EXPECT_EQ(system.Verify(c.text), c.expected) << c.name;
  }
}

TEST(ManifestRulesTest, SignatureIsCheckedBeforeAnyPayloadField) {
  for (const std::string& payload : {Object(kPayload), std::string("not JSON")}) {
    FakeSystem system;
    system.signature_valid = false;
    EXPECT_EQ(system.Verify(Object(Envelope(payload))), Outcome::kRefused) << payload;
    EXPECT_EQ(system.signature_checks, 1);
    EXPECT_EQ(system.clock_reads, 0u);
  }
  // A malformed signature never reaches the check; with an accepting check a malformed payload
  // is the parser's error.
  FakeSystem system;
  EXPECT_EQ(system.Verify(Object(Envelope("not JSON", std::string(128, 'A')))), Outcome::kRefused);
  EXPECT_EQ(system.signature_checks, 0);
  EXPECT_EQ(system.Verify(Object(Envelope("not JSON"))), Outcome::kJsonError);
}

TEST(ManifestRulesTest, Payload) {
  const std::uint64_t issued = kNow - 60;
  const struct {
    const char* name;
    std::string member;  // a payload member, or "file.<name>"
    std::string raw;     // empty: left out
    Outcome expected;
  } cases[] = {
      {"schema 1.0", "schema", "1.0", Outcome::kAccepted},
      {"schema 1e0", "schema", "1e0", Outcome::kAccepted},
      {"schema \"1\"", "schema", "\"1\"", Outcome::kRefused},
      {"brand other", "brand", Quoted("Vexolink"), Outcome::kRefused},
      {"role other", "role", Quoted("viewer"), Outcome::kRefused},
      {"role with NUL", "role", Quoted(std::string("host\0", 5)), Outcome::kRefused},
      {"channel other", "channel", Quoted("beta"), Outcome::kRefused},
      {"eleventh member", "comment", Quoted("x"), Outcome::kRefused},
      {"member missing", "channel", "", Outcome::kRefused},
      {"file fourth member", "file.name", Quoted("x"), Outcome::kRefused},
      {"file not an object", "file", "[1,2,3]", Outcome::kRefused},
      {"issued 300 s ahead", "issuedAt", Number(kNow + 300), Outcome::kAccepted},
      {"issued 301 s ahead", "issuedAt", Number(kNow + 301), Outcome::kRefused},
      {"expires 180 days after issue", "expiresAt", Number(issued + 180 * kDay),
       Outcome::kAccepted},
      {"expires a second later", "expiresAt", Number(issued + 180 * kDay + 1), Outcome::kRefused},
      {"expires now", "expiresAt", Number(kNow), Outcome::kRefused},
      {"expires before issue", "expiresAt", Number(issued - 1), Outcome::kRefused},
      {"sequence at the minimum", "sequence", "2", Outcome::kAccepted},
      {"sequence below the minimum", "sequence", "1", Outcome::kRefused},
      {"sequence 2^53", "sequence", "9007199254740992", Outcome::kRefused},
      {"integer 5.0", "sequence", "5.0", Outcome::kRefused},
      {"integer 5e0", "sequence", "5e0", Outcome::kRefused},
      {"integer as string", "sequence", Quoted("5"), Outcome::kRefused},
      {"integer beyond 64 bits", "sequence", "18446744073709551616", Outcome::kRefused},
      {"version equal", "version", Quoted("0.2.1"), Outcome::kAccepted},
      {"version lower", "version", Quoted("0.2.0"), Outcome::kRefused},
      {"version malformed", "version", Quoted("01.2.3"), Outcome::kRefused},
      {"bytes 65535", "file.bytes", "65535", Outcome::kRefused},
      {"bytes 67108864", "file.bytes", "67108864", Outcome::kAccepted},
      {"bytes 67108865", "file.bytes", "67108865", Outcome::kRefused},
      {"sha256 upper case", "file.sha256", Quoted(std::string(64, 'A')), Outcome::kRefused},
      {"path of another file", "file.path", Quoted(kPath + std::string(64, 'a') + ".exe"),
       Outcome::kRefused},
      {"path absolute URL", "file.path",
       Quoted("https://evil.example" + (kPath + std::string(kSha)) + ".exe"), Outcome::kRefused},
      {"path query string", "file.path", Quoted(kPath + std::string(kSha) + ".exe?x=1"),
       Outcome::kRefused},
      {"path dot segments", "file.path", Quoted(kPath + ("../files/" + std::string(kSha)) + ".exe"),
       Outcome::kRefused},
  };
  for (const auto& c : cases) {
    const Members payload =
        c.member.rfind("file.", 0) == 0
            ? With(kPayload, "file", Object(With(kFile, c.member.substr(5), c.raw)))
            : With(kPayload, c.member, c.raw);
    FakeSystem system;
    EXPECT_EQ(system.Verify(Object(Envelope(Object(payload)))), c.expected) << c.name;
  }
}

TEST(ManifestRulesTest, ClockIsReadForEachTimeCheck) {
  const std::string soon = Object(Envelope(Object(
      With(With(kPayload, "issuedAt", Number(kNow + 300)), "expiresAt", Number(kNow + 400)))));
  const struct {
    const char* name;
    std::vector<std::uint64_t> clock;
    const std::string& text;
  } cases[] = {
      // The first reading admits issuedAt; the second, past expiresAt, refuses.
      {"clock moves on", {FileTimeOf(kNow), FileTimeOf(kNow + 400)}, soon},
      // Parts of a second are cut off: just under issuedAt - 300 is still too early.
      {"part of a second early", {FileTimeOf(kNow) - 1, FileTimeOf(kNow)}, soon},
      {"clock before 1970", {kUnixEpochAsFileTime - 1}, Object(Envelope(Object(kPayload)))},
  };
  for (const auto& c : cases) {
    FakeSystem system;
    system.clock = c.clock;
    EXPECT_EQ(system.Verify(c.text), Outcome::kRefused) << c.name;
  }
}

}  // namespace
}  // namespace vexo
