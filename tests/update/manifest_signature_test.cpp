// The cross-check of the release tool with the launcher: a manifest that the native
// vexo-update tool signed with the build's throwaway private key (published by a ctest fixture
// before this program runs) verifies with the launcher's real CNG code and compiled-in key, and
// a change to what was signed fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "tools/wine-bench/wine_driver.h"
#include "update/manifest.h"
#include "update/manifest_verify_win.h"

namespace vexo {
namespace {

// Empty when missing: then nothing verifies and every test fails.
const std::string kManifest = [] {
  std::ostringstream content;
  content << std::ifstream(std::filesystem::path(test::InBuildTree(
                               VEXO_SIGNED_FIXTURE_DIR L"/api/program-updates/v1/manifest/host")),
                           std::ios::binary)
                 .rdbuf();
  return content.str();
}();

bool Verifies(const std::string& text) {
  try {
    VerifyUpdateManifest(text, "host", "0.2.1", 2);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The envelope with one member replaced (written back with ordinary escaping).
std::string With(const char* member, const std::string& value) {
  nlohmann::json envelope = nlohmann::json::parse(kManifest);
  envelope[member] = value;
  return envelope.dump();
}

std::string Member(const char* member) {
  return nlohmann::json::parse(kManifest).at(member).get<std::string>();
}

// The published fields come back as the tool wrote them. (The role, the running version and the
// sequence floor on top of a valid signature: the rules table and, through the real launcher,
// the update attack rows.)
TEST(ManifestSignatureTest, PublishedManifestVerifies) {
  const VerifiedManifest verified = VerifyUpdateManifest(kManifest, "host", "0.2.1", 2);
  EXPECT_EQ(verified.version, "0.2.2");
  EXPECT_EQ(verified.sequence, 7u);
}

// Only the signed bytes count: escapes in the envelope are free, any change to those bytes or
// to the signature fails.
TEST(ManifestSignatureTest, WhatVerifiesIsTheSignedBytes) {
  const std::string payload = Member("payload");
  const std::string signature = Member("signature");
  const std::size_t start = kManifest.find("\"payload\":\"") + 11;
  const std::size_t end = kManifest.find("\",\"signature\"");
  std::string escaped = kManifest.substr(0, start);
  for (const char c : kManifest.substr(start, end - start)) {
    escaped += c == 'v' ? "\\u0076" : c == '/' ? "\\/" : std::string(1, c);
  }
  escaped += kManifest.substr(end);
  std::string changed_byte = payload;
  changed_byte[payload.size() / 2] ^= 0x01;
  std::string changed_digit = signature;
  changed_digit[70] = changed_digit[70] == '0' ? '1' : '0';
  const std::pair<std::string, bool> cases[] = {
      {With("payload", payload), true},
      {escaped, true},
      {std::string(kManifest).replace(kManifest.find('v', start), 1, "\\u0056"), false},
      {With("payload", payload + " "), false},
      {With("payload", changed_byte), false},
      {With("signature", changed_digit), false},
      {With("signature", signature.substr(64) + signature.substr(0, 64)), false},  // s, r
      // DER: SEQUENCE { INTEGER r, INTEGER s }, each with a leading zero byte to stay positive.
      {With("signature", "3046022100" + signature.substr(0, 64) + "022100" + signature.substr(64)),
       false},
  };
  for (const auto& [text, verifies] : cases) {
    EXPECT_EQ(Verifies(text), verifies) << text;
  }
}

// A key off the curve verifies nothing, not even the signature the compiled-in key verifies; the
// system's clock converts to a date after this code was written.
TEST(ManifestSignatureTest, KeyAndClockOfTheSystem) {
  std::vector<std::uint8_t> key = DecodeLowerHex(UpdatePublicKeyHex());
  key[40] ^= 0x01;
  EXPECT_FALSE(
      VerifyEcdsaP256Signature(key, DecodeLowerHex(Member("signature")), Member("payload")));
  // 2026-01-01 as Unix seconds: a clock that reads earlier is misconverted.
  EXPECT_GT(UnixSecondsFromFileTime(ReadSystemFileTime()), 1767225600u);
}

}  // namespace
}  // namespace vexo
