// Envelope and payload rules of the update manifest, with an accepting signature check and
// a fixed clock, so each rule is reached on its own.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/update/manifest_text.h"
#include "update/manifest.h"
#include "update/update_error.h"

namespace vexo {
namespace {

using testing_support::EnvelopeMembers;
using testing_support::kTestNow;
using testing_support::kTestSha256;
using testing_support::Quoted;
using testing_support::RawMembers;
using testing_support::RawObject;
using testing_support::SetMember;
using testing_support::ValidFileMembers;
using testing_support::ValidPayloadMembers;

constexpr char kPublicKeyHex[] =
    "4543533120000000"
    "1111111111111111111111111111111111111111111111111111111111111111"
    "2222222222222222222222222222222222222222222222222222222222222222";

enum class Outcome { kAccepted, kRefused, kJsonError };

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAccepted:
      return "accepted";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kJsonError:
      return "JSON error";
  }
  return "?";
}

std::uint64_t FileTimeOf(std::uint64_t unix_seconds) {
  return unix_seconds * kFileTimeTicksPerSecond + kUnixEpochAsFileTime;
}

// Records what the rule code hands to the system parts.
struct FakeSystem {
  bool signature_valid = true;
  std::vector<std::uint64_t> clock_readings = {FileTimeOf(kTestNow)};
  int signature_checks = 0;
  int clock_reads = 0;
  std::string signed_bytes;
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> signature;

  ManifestTrust Trust() {
    return {kPublicKeyHex,
            [this](std::span<const std::uint8_t> k, std::span<const std::uint8_t> s,
                   std::string_view bytes) {
              ++signature_checks;
              key.assign(k.begin(), k.end());
              signature.assign(s.begin(), s.end());
              signed_bytes = bytes;
              return signature_valid;
            },
            [this] {
              const std::size_t i = std::min<std::size_t>(clock_reads, clock_readings.size() - 1);
              ++clock_reads;
              return clock_readings[i];
            }};
  }
};

struct Result {
  Outcome outcome;
  VerifiedManifest manifest;
  std::string error;
};

Result Verify(FakeSystem& system,
              const std::string& text,
              std::uint64_t minimum_sequence = 2,
              const char* current_version = "0.2.1",
              const char* role = "host") {
  try {
    return {Outcome::kAccepted,
            VerifyUpdateManifestWith(system.Trust(), text, role, current_version, minimum_sequence),
            ""};
  } catch (const nlohmann::json::exception& error) {
    return {Outcome::kJsonError, {}, error.what()};
  } catch (const std::runtime_error& error) {
    // The update's own refusal must carry exactly its one text.
    EXPECT_STREQ(error.what(), kUpdateValidationFailed);
    return {Outcome::kRefused, {}, error.what()};
  }
}

std::string Envelope(const RawMembers& payload) {
  return RawObject(EnvelopeMembers(RawObject(payload)));
}

TEST(ManifestRulesTest, ValidManifestGivesEveryField) {
  FakeSystem system;
  const std::string payload = RawObject(ValidPayloadMembers());
  const Result r = Verify(system, RawObject(EnvelopeMembers(payload)));
  ASSERT_EQ(r.outcome, Outcome::kAccepted) << r.error;
  EXPECT_EQ(r.manifest.version, "0.2.2");
  EXPECT_EQ(r.manifest.sha256, kTestSha256);
  EXPECT_EQ(r.manifest.path, std::string("/api/program-updates/v1/files/") + kTestSha256 + ".exe");
  EXPECT_EQ(r.manifest.bytes, 65536u);
  EXPECT_EQ(r.manifest.sequence, 7u);
  // The check saw the decoded key and signature and exactly the payload bytes.
  EXPECT_EQ(system.signature_checks, 1);
  EXPECT_EQ(system.signed_bytes, payload);
  ASSERT_EQ(system.key.size(), 72u);
  EXPECT_EQ(system.key[0], 0x45);
  EXPECT_EQ(system.key[4], 0x20);
  EXPECT_EQ(system.key[8], 0x11);
  EXPECT_EQ(system.key[71], 0x22);
  EXPECT_EQ(system.signature, std::vector<std::uint8_t>(64, 0xaa));
  // The clock is read once for issuedAt and again for expiresAt.
  EXPECT_EQ(system.clock_reads, 2);
}

TEST(ManifestRulesTest, SignedBytesAreThePayloadAfterUnescaping) {
  FakeSystem system;
  const std::string payload = RawObject(ValidPayloadMembers());
  // Escape every 'v' and every '/' differently; the unescaped bytes stay the same.
  std::string escaped;
  for (char c : payload) {
    if (c == 'v') {
      escaped += "\\u0076";
    } else if (c == '/') {
      escaped += "\\/";
    } else if (c == '"') {
      escaped += "\\\"";
    } else {
      escaped += c;
    }
  }
  const std::string text = R"({"keyId":"vexo-update-2026-01","payload":")" + escaped +
                           R"(","signature":")" + std::string(128, 'a') + "\"}";
  ASSERT_EQ(Verify(system, text).outcome, Outcome::kAccepted);
  EXPECT_EQ(system.signed_bytes, payload);
}

TEST(ManifestRulesTest, ManifestSizeLimit) {
  const std::string base = Envelope(ValidPayloadMembers());
  ASSERT_LT(base.size(), kMaxManifestBytes);
  struct Case {
    std::size_t size;
    bool valid_json;
    Outcome expected;
  };
  const Case cases[] = {
      {16384, true, Outcome::kAccepted},
      {16385, true, Outcome::kRefused},
      {16384, false, Outcome::kJsonError},
      {16385, false, Outcome::kRefused},  // refused before parsing
      {1000000, false, Outcome::kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.valid_json ? " valid" : " malformed"));
    std::string text = base;
    if (!c.valid_json) {
      text.insert(0, "x");
    }
    text.resize(c.size, ' ');
    FakeSystem system;
    EXPECT_EQ(Verify(system, text).outcome, c.expected);
  }
  FakeSystem system;
  EXPECT_EQ(Verify(system, "").outcome, Outcome::kJsonError);
}

struct TextCase {
  const char* name;
  std::function<std::string()> text;
  Outcome expected;
};

void RunTextCases(const std::vector<TextCase>& cases) {
  for (const TextCase& c : cases) {
    FakeSystem system;
    const Result r = Verify(system, c.text());
    EXPECT_EQ(r.outcome, c.expected)
        << c.name << ": " << OutcomeName(r.outcome) << " (" << r.error << ")";
  }
}

TEST(ManifestRulesTest, EnvelopeRules) {
  const std::string payload = RawObject(ValidPayloadMembers());
  const auto envelope_with = [payload](const std::string& name, const std::string& raw) {
    RawMembers members = EnvelopeMembers(payload);
    SetMember(members, name, raw);
    return RawObject(members);
  };
  const std::string der_signature =
      "3045022100" + std::string(64, 'a') + "0220" + std::string(64, 'b');
  RunTextCases({
      {"valid", [=] { return RawObject(EnvelopeMembers(payload)); }, Outcome::kAccepted},
      {"trailing white space", [=] { return RawObject(EnvelopeMembers(payload)) + " \r\n\t"; },
       Outcome::kAccepted},
      {"fourth member", [=] { return envelope_with("comment", Quoted("hi")); }, Outcome::kRefused},
      {"keyId missing", [=] { return envelope_with("keyId", ""); }, Outcome::kRefused},
      {"keyId replaced by another member",
       [=] {
         RawMembers m = EnvelopeMembers(payload);
         m[0] = {"keyid", Quoted("vexo-update-2026-01")};
         return RawObject(m);
       },
       Outcome::kJsonError},
      {"keyId other", [=] { return envelope_with("keyId", Quoted("vexo-update-2025-01")); },
       Outcome::kRefused},
      {"keyId number", [=] { return envelope_with("keyId", "1"); }, Outcome::kRefused},
      {"payload number", [=] { return envelope_with("payload", "1"); }, Outcome::kJsonError},
      {"payload object", [=] { return envelope_with("payload", payload); }, Outcome::kJsonError},
      {"signature array", [=] { return envelope_with("signature", "[]"); }, Outcome::kJsonError},
      {"signature upper case",
       [=] { return envelope_with("signature", Quoted(std::string(128, 'A'))); },
       Outcome::kRefused},
      {"signature mixed case",
       [=] { return envelope_with("signature", Quoted(std::string(127, 'a') + "F")); },
       Outcome::kRefused},
      {"signature DER", [=] { return envelope_with("signature", Quoted(der_signature)); },
       Outcome::kRefused},
      {"signature 127 digits",
       [=] { return envelope_with("signature", Quoted(std::string(127, 'a'))); },
       Outcome::kRefused},
      {"signature 130 digits",
       [=] { return envelope_with("signature", Quoted(std::string(130, 'a'))); },
       Outcome::kRefused},
      {"signature with a NUL",
       [=] { return envelope_with("signature", Quoted(std::string(127, 'a') + '\0')); },
       Outcome::kRefused},
      {"array", [=] { return "[" + RawObject(EnvelopeMembers(payload)) + "]"; }, Outcome::kRefused},
      {"string", [=] { return Quoted(payload); }, Outcome::kRefused},
      {"duplicate member",
       [=] {
         RawMembers m = EnvelopeMembers(payload);
         m.push_back(m[0]);
         return RawObject(m);
       },
       Outcome::kRefused},
      {"comment", [=] { return "/* x */" + RawObject(EnvelopeMembers(payload)); },
       Outcome::kJsonError},
      {"trailing comment", [=] { return RawObject(EnvelopeMembers(payload)) + "// x"; },
       Outcome::kJsonError},
      {"second value", [=] { return RawObject(EnvelopeMembers(payload)) + "{}"; },
       Outcome::kJsonError},
      {"invalid UTF-8", [=] { return envelope_with("keyId", "\"\xff\""); }, Outcome::kJsonError},
  });
}

TEST(ManifestRulesTest, PayloadSizeLimit) {
  for (const auto& [size, expected] : std::vector<std::pair<std::size_t, Outcome>>{
           {8191, Outcome::kAccepted}, {8192, Outcome::kRefused}}) {
    std::string payload = RawObject(ValidPayloadMembers());
    payload.resize(size, ' ');
    FakeSystem system;
    EXPECT_EQ(Verify(system, RawObject(EnvelopeMembers(payload))).outcome, expected) << size;
  }
}

TEST(ManifestRulesTest, SignatureIsCheckedBeforeAnyPayloadField) {
  const std::vector<std::string> payloads = {
      RawObject(ValidPayloadMembers()),
      "not JSON",
      "{\"schema\":2}",
      "",
  };
  for (const std::string& payload : payloads) {
    FakeSystem system;
    system.signature_valid = false;
    EXPECT_EQ(Verify(system, RawObject(EnvelopeMembers(payload))).outcome, Outcome::kRefused)
        << payload;
    EXPECT_EQ(system.signature_checks, 1);
    EXPECT_EQ(system.clock_reads, 0);
  }
  // A malformed signature never reaches the check.
  FakeSystem system;
  RawMembers envelope = EnvelopeMembers("not JSON");
  SetMember(envelope, "signature", Quoted(std::string(128, 'A')));
  EXPECT_EQ(Verify(system, RawObject(envelope)).outcome, Outcome::kRefused);
  EXPECT_EQ(system.signature_checks, 0);
  // With an accepting check the same malformed payload is the library's parse error.
  EXPECT_EQ(Verify(system, RawObject(EnvelopeMembers("not JSON"))).outcome, Outcome::kJsonError);
}

TEST(ManifestRulesTest, PublicKeyMustDecodeToABlob) {
  for (const char* key : {"", "45435331", "4543533120000000zz"}) {
    FakeSystem system;
    ManifestTrust trust = system.Trust();
    trust.public_key_hex = key;
    EXPECT_THROW(
        VerifyUpdateManifestWith(trust, Envelope(ValidPayloadMembers()), "host", "0.2.1", 2),
        std::runtime_error)
        << key;
    EXPECT_EQ(system.signature_checks, 0);
  }
}

struct PayloadCase {
  const char* name;
  const char* member;  // a top-level member, or "file.<name>"
  std::string raw;     // empty: leave the member out
  Outcome expected;
};

std::string PayloadWith(const PayloadCase& c) {
  RawMembers payload = ValidPayloadMembers();
  const std::string member = c.member;
  if (member.rfind("file.", 0) == 0) {
    RawMembers file = ValidFileMembers();
    SetMember(file, member.substr(5), c.raw);
    SetMember(payload, "file", RawObject(file));
  } else {
    SetMember(payload, member, c.raw);
  }
  return RawObject(payload);
}

void RunPayloadCases(const std::vector<PayloadCase>& cases, std::uint64_t minimum_sequence = 2) {
  for (const PayloadCase& c : cases) {
    FakeSystem system;
    const Result r = Verify(system, RawObject(EnvelopeMembers(PayloadWith(c))), minimum_sequence);
    EXPECT_EQ(r.outcome, c.expected)
        << c.name << ": " << OutcomeName(r.outcome) << " (" << r.error << ")";
  }
}

std::string Number(std::uint64_t value) {
  return std::to_string(value);
}

TEST(ManifestRulesTest, FixedValueMembers) {
  RunPayloadCases({
      {"schema 1", "schema", "1", Outcome::kAccepted},
      {"schema 1.0", "schema", "1.0", Outcome::kAccepted},
      {"schema 1e0", "schema", "1e0", Outcome::kAccepted},
      {"schema \"1\"", "schema", "\"1\"", Outcome::kRefused},
      {"schema 2", "schema", "2", Outcome::kRefused},
      {"schema -1", "schema", "-1", Outcome::kRefused},
      {"schema 1.5", "schema", "1.5", Outcome::kRefused},
      {"schema true", "schema", "true", Outcome::kRefused},
      {"schema null", "schema", "null", Outcome::kRefused},
      {"brand other", "brand", Quoted("Vexolink"), Outcome::kRefused},
      {"brand array", "brand", "[\"vexolink\"]", Outcome::kRefused},
      {"role other", "role", Quoted("viewer"), Outcome::kRefused},
      {"role case", "role", Quoted("Host"), Outcome::kRefused},
      {"role with NUL", "role", Quoted(std::string("host\0", 5)), Outcome::kRefused},
      {"platform other", "platform", Quoted("windows-x86"), Outcome::kRefused},
      {"channel other", "channel", Quoted("beta"), Outcome::kRefused},
      {"channel number", "channel", "0", Outcome::kRefused},
  });
}

TEST(ManifestRulesTest, MemberCounts) {
  RunPayloadCases({
      {"eleventh member", "comment", Quoted("x"), Outcome::kRefused},
      {"member missing", "channel", "", Outcome::kRefused},
      {"file fourth member", "file.name", Quoted("x"), Outcome::kRefused},
      {"file member missing", "file.path", "", Outcome::kRefused},
      {"file not an object", "file", Quoted("x"), Outcome::kRefused},
      {"file array", "file", "[1,2,3]", Outcome::kRefused},
  });
  // A member replaced by another name: the counts hold, the lookup is the library's error.
  RawMembers payload = ValidPayloadMembers();
  payload[4] = {"Channel", Quoted("stable")};
  FakeSystem system;
  EXPECT_EQ(Verify(system, Envelope(payload)).outcome, Outcome::kJsonError);
  RawMembers duplicated = ValidPayloadMembers();
  duplicated[9].second = RawObject(ValidFileMembers()).insert(1, "\"bytes\":65536,");
  EXPECT_EQ(Verify(system, Envelope(duplicated)).outcome, Outcome::kRefused);
}

TEST(ManifestRulesTest, IssuedAndExpiryTimes) {
  const std::uint64_t issued = kTestNow - 1000;
  const auto at = [](std::uint64_t issued_at, std::uint64_t expires_at) {
    RawMembers payload = ValidPayloadMembers();
    SetMember(payload, "issuedAt", Number(issued_at));
    SetMember(payload, "expiresAt", Number(expires_at));
    return Envelope(payload);
  };
  RunTextCases({
      {"issued 300 s ahead", [=] { return at(kTestNow + 300, kTestNow + 86400); },
       Outcome::kAccepted},
      {"issued 301 s ahead", [=] { return at(kTestNow + 301, kTestNow + 86400); },
       Outcome::kRefused},
      {"issued now", [=] { return at(kTestNow, kTestNow + 1); }, Outcome::kAccepted},
      {"issued 0", [=] { return at(0, kTestNow + 1); }, Outcome::kRefused},  // > 180 days
      {"expires exactly 180 days after issue", [=] { return at(issued, issued + 15552000); },
       Outcome::kAccepted},
      {"expires 180 days and 1 s after issue", [=] { return at(issued, issued + 15552001); },
       Outcome::kRefused},
      {"expires now", [=] { return at(issued, kTestNow); }, Outcome::kRefused},
      {"expires 1 s from now", [=] { return at(issued, kTestNow + 1); }, Outcome::kAccepted},
      {"expires at issue", [=] { return at(kTestNow + 100, kTestNow + 100); }, Outcome::kRefused},
      {"expires before issue", [=] { return at(kTestNow + 200, kTestNow + 100); },
       Outcome::kRefused},
      {"largest times", [=] { return at(UINT64_MAX, UINT64_MAX); }, Outcome::kRefused},
  });
  RunPayloadCases({
      {"issuedAt 5.0", "issuedAt", "1799999000.0", Outcome::kRefused},
      {"issuedAt 5e0", "issuedAt", "17999990e2", Outcome::kRefused},
      {"issuedAt -5", "issuedAt", "-5", Outcome::kRefused},
      {"issuedAt -0", "issuedAt", "-0", Outcome::kRefused},
      {"issuedAt string", "issuedAt", Quoted("1799999000"), Outcome::kRefused},
      {"issuedAt beyond 64 bits", "issuedAt", "18446744073709551616", Outcome::kRefused},
      {"expiresAt 1.0 form", "expiresAt", Number(kTestNow + 10) + ".0", Outcome::kRefused},
      {"expiresAt null", "expiresAt", "null", Outcome::kRefused},
  });
}

TEST(ManifestRulesTest, ClockIsReadForEachTimeCheck) {
  RawMembers payload = ValidPayloadMembers();
  SetMember(payload, "issuedAt", Number(kTestNow + 300));
  SetMember(payload, "expiresAt", Number(kTestNow + 400));
  // The first reading admits issuedAt; the second one, past expiresAt, refuses.
  FakeSystem moving;
  moving.clock_readings = {FileTimeOf(kTestNow), FileTimeOf(kTestNow + 400)};
  EXPECT_EQ(Verify(moving, Envelope(payload)).outcome, Outcome::kRefused);
  EXPECT_EQ(moving.clock_reads, 2);
  // Partial seconds are cut off: 0.9999999 s before issuedAt - 300 is still too early.
  FakeSystem early;
  early.clock_readings = {FileTimeOf(kTestNow) - 1, FileTimeOf(kTestNow)};
  EXPECT_EQ(Verify(early, Envelope(payload)).outcome, Outcome::kRefused);
  // A clock before 1970 dates nothing.
  FakeSystem broken;
  broken.clock_readings = {kUnixEpochAsFileTime - 1};
  EXPECT_EQ(Verify(broken, Envelope(ValidPayloadMembers())).outcome, Outcome::kRefused);
}

TEST(ManifestRulesTest, VersionAgainstTheCurrentOne) {
  RunPayloadCases({
      {"newer", "version", Quoted("0.2.10"), Outcome::kAccepted},
      {"equal", "version", Quoted("0.2.1"), Outcome::kAccepted},
      {"lower", "version", Quoted("0.2.0"), Outcome::kRefused},
      {"lower by minor", "version", Quoted("0.1.99999"), Outcome::kRefused},
      {"leading zero", "version", Quoted("01.2.3"), Outcome::kRefused},
      {"two parts", "version", Quoted("1.2"), Outcome::kRefused},
      {"four parts", "version", Quoted("1.2.3.4"), Outcome::kRefused},
      {"suffix", "version", Quoted("1.2.3-beta"), Outcome::kRefused},
      {"blank", "version", Quoted(" 1.2.3"), Outcome::kRefused},
      {"number", "version", "1.2", Outcome::kJsonError},
  });
  FakeSystem system;
  EXPECT_EQ(Verify(system, Envelope(ValidPayloadMembers()), 2, "0.2").outcome, Outcome::kRefused);
}

TEST(ManifestRulesTest, Sequence) {
  RunPayloadCases(
      {
          {"2^53 - 1", "sequence", "9007199254740991", Outcome::kAccepted},
          {"2^53", "sequence", "9007199254740992", Outcome::kRefused},
          {"2^64 - 1", "sequence", "18446744073709551615", Outcome::kRefused},
          {"at the minimum", "sequence", "5", Outcome::kAccepted},
          {"below the minimum", "sequence", "4", Outcome::kRefused},
          {"0", "sequence", "0", Outcome::kRefused},
          {"5.0", "sequence", "5.0", Outcome::kRefused},
          {"5e0", "sequence", "5e0", Outcome::kRefused},
          {"-5", "sequence", "-5", Outcome::kRefused},
          {"string", "sequence", Quoted("5"), Outcome::kRefused},
      },
      /*minimum_sequence=*/5);
}

TEST(ManifestRulesTest, ProgramFile) {
  const std::string upper = "0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef";
  const std::string prefix = "/api/program-updates/v1/files/";
  RunPayloadCases({
      {"bytes 65535", "file.bytes", "65535", Outcome::kRefused},
      {"bytes 65536", "file.bytes", "65536", Outcome::kAccepted},
      {"bytes 67108864", "file.bytes", "67108864", Outcome::kAccepted},
      {"bytes 67108865", "file.bytes", "67108865", Outcome::kRefused},
      {"bytes 65536.0", "file.bytes", "65536.0", Outcome::kRefused},
      {"bytes 6.5536e4", "file.bytes", "6.5536e4", Outcome::kRefused},
      {"bytes -65536", "file.bytes", "-65536", Outcome::kRefused},
      {"bytes string", "file.bytes", Quoted("65536"), Outcome::kRefused},
      {"sha256 upper case", "file.sha256", Quoted(upper), Outcome::kRefused},
      {"sha256 63 digits", "file.sha256", Quoted(std::string(kTestSha256).substr(1)),
       Outcome::kRefused},
      {"sha256 number", "file.sha256", "1", Outcome::kJsonError},
      {"path upper-case hex", "file.path",
       Quoted(prefix + "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF.exe"),
       Outcome::kRefused},
      {"path other prefix", "file.path",
       Quoted(std::string("/api/program-updates/v2/files/") + kTestSha256 + ".exe"),
       Outcome::kRefused},
      {"path absolute URL", "file.path",
       Quoted(std::string("https://evil.example") + prefix + kTestSha256 + ".exe"),
       Outcome::kRefused},
      {"path query string", "file.path", Quoted(prefix + kTestSha256 + ".exe?x=1"),
       Outcome::kRefused},
      {"path upper-case suffix", "file.path", Quoted(prefix + kTestSha256 + ".EXE"),
       Outcome::kRefused},
      {"path dot segments", "file.path", Quoted(prefix + "../files/" + kTestSha256 + ".exe"),
       Outcome::kRefused},
      {"path with NUL", "file.path", Quoted(prefix + kTestSha256 + ".exe" + '\0'),
       Outcome::kRefused},
      {"path number", "file.path", "1", Outcome::kJsonError},
  });
}

}  // namespace
}  // namespace vexo
