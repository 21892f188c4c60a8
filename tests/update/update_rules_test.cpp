// The update's portable rules: the manifest's envelope and payload, the version grammar and
// order, the role table, lower-case hex and the x64 executable header.
//
// Manifest rows run with an accepting signature check and a clock of the row's choice, so each
// rule is reached on its own: one accepted and one refused row at each edge. Each row changes the
// text of one valid manifest, so it can hold any form a hostile server could send. Grammars
// shared by several fields (the integer form, the version) are tested once. The fuzz targets
// check the ASCII grammars against regular expressions and what every accepted manifest
// promises; these rows name the edges, and what the fuzzers leave out: text beyond ASCII.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "update/executable_header.h"
#include "update/manifest.h"
#include "update/role.h"
#include "update/update_error.h"
#include "update/version.h"

namespace vexo {
namespace {

constexpr std::uint64_t kNow = 1800000000;  // 2027-01-15, Unix seconds
constexpr std::uint64_t kIssued = kNow - 60;
constexpr std::uint64_t kDay = 86400;
constexpr char kSha[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
constexpr char kKeyHex[] =
    "4543533120000000"
    "1111111111111111111111111111111111111111111111111111111111111111"
    "2222222222222222222222222222222222222222222222222222222222222222";
const std::string kFilePath = "/api/program-updates/v1/files/" + std::string(kSha) + ".exe";

std::string Field(const std::string& name, std::uint64_t value) {
  return "\"" + name + "\":" + std::to_string(value);
}

const std::string kFile =
    R"({"sha256":")" + std::string(kSha) + R"(","bytes":65536,"path":")" + kFilePath + "\"}";
const std::string kPayload =
    R"({"schema":1,"brand":"vexolink","role":"host","platform":"windows-x64","channel":"stable",)" +
    Field("issuedAt", kIssued) + "," + Field("expiresAt", kNow + 30 * kDay) +
    R"(,"version":"0.2.2","sequence":7,"file":)" + kFile + "}";

std::string Envelope(const std::string& payload, const std::string& signature) {
  return R"({"keyId":"vexo-update-2026-01","payload":)" + nlohmann::json(payload).dump() +
         R"(,"signature":")" + signature + "\"}";
}
const std::string kSignature(128, 'a');
const std::string kManifest = Envelope(kPayload, kSignature);

// `text` with its first `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

enum class Outcome { kAccepted, kRefused, kJsonError };

// A FILETIME counts 100 ns ticks from 1601-01-01; 1970 is 369 years later, 89 of them leap
// years (the 92 multiples of 4 less 1700, 1800 and 1900).
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kEpochTicks = (369 * 365 + 89) * kDay * kTicksPerSecond;

std::uint64_t FileTimeOf(std::uint64_t unix_seconds) {
  return unix_seconds * kTicksPerSecond + kEpochTicks;
}

// Stands in for the system parts and records what the rule code hands them.
struct FakeSystem {
  bool signature_valid = true;
  std::vector<std::uint64_t> clock = {FileTimeOf(kNow)};
  int signature_checks = 0;
  std::size_t clock_reads = 0;
  std::string signed_bytes;
  VerifiedManifest manifest;

  Outcome Verify(const std::string& text) {
    const ManifestTrust trust{kKeyHex,
                              [this](std::span<const std::uint8_t>, std::span<const std::uint8_t>,
                                     std::string_view bytes) {
                                ++signature_checks;
                                signed_bytes = bytes;
                                return signature_valid;
                              },
                              [this] { return clock[std::min(clock_reads++, clock.size() - 1)]; }};
    try {
      manifest = VerifyUpdateManifestWith(trust, text, "host", "0.2.1", 2);
      return Outcome::kAccepted;
    } catch (const nlohmann::json::exception&) {
      return Outcome::kJsonError;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), kUpdateValidationFailed);  // the update's one refusal text
      return Outcome::kRefused;
    }
  }
};

// The check sees exactly the signed bytes, before any payload field or the clock is read: a
// signature that does not verify refuses there; a malformed one never reaches the check, and
// with an accepting check a malformed payload is the parser's error.
TEST(ManifestRulesTest, SignedBytesFirstThenEveryField) {
  FakeSystem valid;
  ASSERT_EQ(valid.Verify(kManifest), Outcome::kAccepted);
  EXPECT_EQ(valid.manifest.version, "0.2.2");
  EXPECT_EQ(valid.manifest.sha256, kSha);
  EXPECT_EQ(valid.manifest.path, kFilePath);
  EXPECT_EQ(valid.manifest.bytes, 65536u);
  EXPECT_EQ(valid.manifest.sequence, 7u);
  EXPECT_EQ(valid.signature_checks, 1);
  EXPECT_EQ(valid.signed_bytes, kPayload);
  EXPECT_EQ(valid.clock_reads, 2u);  // once for issuedAt, again for expiresAt
  for (const std::string& payload : {kPayload, std::string("not JSON")}) {
    FakeSystem refusing;
    refusing.signature_valid = false;
    EXPECT_EQ(refusing.Verify(Envelope(payload, kSignature)), Outcome::kRefused) << payload;
    EXPECT_EQ(refusing.signature_checks, 1);
    EXPECT_EQ(refusing.clock_reads, 0u);
  }
  FakeSystem malformed;
  EXPECT_EQ(malformed.Verify(Envelope("not JSON", std::string(128, 'A'))), Outcome::kRefused);
  EXPECT_EQ(malformed.signature_checks, 0);
  EXPECT_EQ(malformed.Verify(Envelope("not JSON", kSignature)), Outcome::kJsonError);
}

// Each row is a whole manifest: the envelope's own rules, then payloads that differ from the
// valid one in one field, then clocks that read differently at each time check. A fourth
// envelope member and a path that is not the digest's are hostile answers the real launcher
// meets end to end (tests/update/update_e2e.py).
TEST(ManifestRulesTest, EnvelopePayloadAndClock) {
  const auto padded = [](std::string text, std::size_t size) {
    text.resize(size, ' ');
    return text;
  };
  // The valid payload with its first `from` replaced by `to`, signed.
  const auto Signed = [](const std::string& from, const std::string& to) {
    return Envelope(Replaced(kPayload, from, to), kSignature);
  };
  using enum Outcome;
  const std::string issued = Field("issuedAt", kIssued);
  const std::string expires = Field("expiresAt", kNow + 30 * kDay);
  const std::string soon =
      Envelope(Replaced(Replaced(kPayload, issued, Field("issuedAt", kNow + 300)), expires,
                        Field("expiresAt", kNow + 400)),
               kSignature);
  const struct {
    const char* name;
    std::string text;
    Outcome expected;
    std::vector<std::uint64_t> clock = {FileTimeOf(kNow)};  // one reading per time check
  } cases[] = {
      {"16384 bytes", padded(kManifest, 16384), kAccepted},
      {"16385 bytes, refused before any parsing", padded("x" + kManifest, 16385), kRefused},
      {"payload of 8191 bytes", Envelope(padded(kPayload, 8191), kSignature), kAccepted},
      {"payload of 8192 bytes", Envelope(padded(kPayload, 8192), kSignature), kRefused},
      {"keyId other", Replaced(kManifest, "2026-01", "2025-01"), kRefused},
      {"keyId twice", Replaced(kManifest, "{", R"({"keyId":"x",)"), kRefused},
      {"signature upper case", Envelope(kPayload, std::string(128, 'A')), kRefused},
      {"signature DER", Envelope(kPayload, "3045022100" + std::string(134, 'a')), kRefused},
      {"array", "[" + kManifest + "]", kRefused},
      {"second value", kManifest + kManifest, kJsonError},
      {"schema \"1\"", Signed("\"schema\":1", "\"schema\":\"1\""), kRefused},
      {"brand other", Signed("vexolink", "Vexolink"), kRefused},
      {"role other", Signed("\"host\"", "\"viewer\""), kRefused},
      {"role with NUL", Signed("\"host\"", "\"host\\u0000\""), kRefused},
      {"platform other", Signed("windows-x64", "windows-arm64"), kRefused},
      {"channel other", Signed("stable", "beta"), kRefused},
      {"eleventh member", Signed("{", R"({"comment":"x",)"), kRefused},
      {"member missing", Signed(R"("channel":"stable",)", ""), kRefused},
      {"file not an object", Signed(kFile, "[1,2,3]"), kRefused},
      {"issued 300 s ahead", Signed(issued, Field("issuedAt", kNow + 300)), kAccepted},
      {"issued 301 s ahead", Signed(issued, Field("issuedAt", kNow + 301)), kRefused},
      {"valid 180 days", Signed(expires, Field("expiresAt", kIssued + 180 * kDay)), kAccepted},
      {"a second longer", Signed(expires, Field("expiresAt", kIssued + 180 * kDay + 1)), kRefused},
      {"expires now", Signed(expires, Field("expiresAt", kNow)), kRefused},
      {"sequence at the floor", Signed("\"sequence\":7", "\"sequence\":2"), kAccepted},
      {"sequence below it", Signed("\"sequence\":7", "\"sequence\":1"), kRefused},
      {"sequence 2^53 - 1", Signed("\"sequence\":7", "\"sequence\":9007199254740991"), kAccepted},
      {"sequence 2^53", Signed("\"sequence\":7", "\"sequence\":9007199254740992"), kRefused},
      {"integer 7.0", Signed("\"sequence\":7", "\"sequence\":7.0"), kRefused},
      {"integer as text", Signed("\"sequence\":7", "\"sequence\":\"7\""), kRefused},
      {"integer beyond 64 bits", Signed("\"sequence\":7", "\"sequence\":18446744073709551623"),
       kRefused},
      {"version equal", Signed("0.2.2", "0.2.1"), kAccepted},
      {"version lower", Signed("0.2.2", "0.2.0"), kRefused},
      {"bytes 65535", Signed("65536", "65535"), kRefused},
      {"bytes 67108864", Signed("65536", "67108864"), kAccepted},
      {"bytes 67108865", Signed("65536", "67108865"), kRefused},
      {"sha256 upper case", Signed(kSha, std::string(64, 'A')), kRefused},
      // The first reading admits issuedAt; the second, past expiresAt, refuses.
      {"clock moves on", soon, kRefused, {FileTimeOf(kNow), FileTimeOf(kNow + 400)}},
      // Parts of a second are cut off: just under issuedAt - 300 is still too early.
      {"part of a second early", soon, kRefused, {FileTimeOf(kNow) - 1, FileTimeOf(kNow)}},
      {"clock before 1970", kManifest, kRefused, {kEpochTicks - 1}},
  };
  for (const auto& c : cases) {
    FakeSystem system;
    system.clock = c.clock;
    EXPECT_EQ(system.Verify(c.text), c.expected) << c.name;
  }
}

// The grammar's edges (the fuzzer checks it against a regular expression), and numbers, not
// text, in the order.
TEST(VersionTest, GrammarAndOrder) {
  using namespace std::string_literals;
  EXPECT_EQ(VersionText(ParseVersion("99999.99999.99999")), "99999.99999.99999");
  // A leading zero, six digits, two parts, an Arabic-Indic digit, a NUL after a valid text.
  for (const std::string& text : {"01.2.3"s, "100000.0.0"s, "1.2"s, "\xd9\xa1.2.3"s, "1.2.3\0"s}) {
    EXPECT_THROW(ParseVersion(text), std::runtime_error) << testing::PrintToString(text);
  }
  for (const auto& [lower, higher] : {std::pair{"0.2.1", "0.2.10"}, {"0.9.99999", "0.10.0"}}) {
    EXPECT_TRUE(CompareVersions(ParseVersion(lower), ParseVersion(higher)) < 0 &&
                CompareVersions(ParseVersion(higher), ParseVersion(lower)) > 0)
        << lower;
  }
  EXPECT_TRUE(CompareVersions(ParseVersion("0.2.1"), ParseVersion("0.2.1")) == 0);
}

// File names: ASCII letters in any case, the last part of the path only, and nothing beyond
// ASCII (no Unicode case folding, no look-alike letters or digits); the switch a role carries.
TEST(RoleTest, FileNamesAndArguments) {
  const std::tuple<const char*, const wchar_t*, bool> names[] = {
      {"host", L"C:\\x\\vExO-hOsT.ExE", true},
      {"host", L"C:\\Vexo-Host.exe\\other.exe", false},
      {"host", L"C:\\x\\Vexo-Host\u0130.exe", false},  // a letter beyond ASCII
      {"host", L"C:\\x\\Vexo\u2010Host.exe", false},   // a Unicode hyphen
      {"collector", L"C:\\x\\Vexolink-Collector-\u0661.exe", false},
      {"collector", L"C:\\x\\vexolink-collector-1.4.0.exe", true},
  };
  for (const auto& [role, path, matches] : names) {
    EXPECT_EQ(ExecutableMatchesRole(role, path), matches)
        << role << " " << testing::PrintToString(std::wstring(path));
  }
  const std::tuple<const char*, const char*, bool> arguments[] = {
      {"host", "", true},
      {"host", "--managed", false},
      {"server", "--managed", true},
      {"server", "--managed --managed", false},
  };
  for (const auto& [role, line, allowed] : arguments) {
    EXPECT_EQ(RoleArgumentsAllowed(role, line), allowed) << role << " [" << line << "]";
  }
}

TEST(HexTest, DecodeLowerHex) {
  EXPECT_EQ(ToLowerHex(DecodeLowerHex("0a1bff")), "0a1bff");
  // Empty, odd length, upper case, not a digit, a NUL inside.
  using namespace std::string_literals;
  for (const std::string& text : {""s, "0"s, "0A"s, "0g"s, "0\0"s}) {
    EXPECT_THROW(DecodeLowerHex(text), std::runtime_error) << testing::PrintToString(text);
  }
}

TEST(ExecutableHeaderTest, Cases) {
  // A minimal image: its size, the offset of the PE header, machine, optional header magic,
  // characteristics, the two letters of MZ then the two of PE, and whether it is accepted.
  const std::tuple<std::size_t, std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t,
                   const char*, bool>
      cases[] = {
          {65536, 0x80, 0x8664, 0x020B, 0x0022, "MZPE", true},
          {65535, 0x80, 0x8664, 0x020B, 0x0022, "MZPE", false},         // one byte short
          {65536, 0x80, 0x8664, 0x010B, 0x0022, "MZPE", false},         // PE32 magic on x64
          {65536, 0x80, 0xAA64, 0x020B, 0x0022, "MZPE", false},         // ARM64
          {65536, 0x80, 0x8664, 0x020B, 0x0020, "MZPE", false},         // not executable
          {65536, 65536 - 113, 0x8664, 0x020B, 0x0022, "MZPE", true},   // header at the last place
          {65536, 65536 - 112, 0x8664, 0x020B, 0x0022, "MZPE", false},  // one byte too far
          {65536, 0xFFFFFFF0u, 0x8664, 0x020B, 0x0022, "MZPE", false},  // offset near 2^32
          {65536, 0x80, 0x8664, 0x020B, 0x0022, "ZMPE", false},
          {65536, 0x80, 0x8664, 0x020B, 0x0022, "MZPX", false},
          {0, 0, 0, 0, 0, "", false},  // empty
      };
  for (const auto& [size, pe_offset, machine, magic, characteristics, signatures, accepted] :
       cases) {
    std::vector<std::uint8_t> image(size, 0);
    if (size != 0) {
      std::memcpy(image.data(), signatures, 2);
      std::memcpy(&image[60], &pe_offset, 4);  // the build machine is little-endian
    }
    if (std::uint64_t{pe_offset} + 26 < size) {
      std::memcpy(&image[pe_offset], signatures + 2, 2);
      std::memcpy(&image[pe_offset + 4], &machine, 2);
      std::memcpy(&image[pe_offset + 22], &characteristics, 2);
      std::memcpy(&image[pe_offset + 24], &magic, 2);
    }
    EXPECT_EQ(IsWindowsX64Executable(image), accepted) << pe_offset << " " << machine;
    if (!accepted) {
      EXPECT_THROW(CheckWindowsX64Executable(image), std::runtime_error);
    }
  }
}

}  // namespace
}  // namespace vexo
