// The manifest check with the launcher's real CNG signature verification and the build's
// compiled-in key, against a manifest that the release tool signed with the build's
// throwaway private key (published by a ctest fixture before this program runs).
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "update/manifest.h"
#include "update/manifest_verify_win.h"
#include "update/update_error.h"

namespace vexo {
namespace {

std::string ReadFixture(const std::string& relative) {
  const std::string path = std::string(VEXO_SIGNED_FIXTURE_DIR) + "/" + relative;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "missing fixture " << path << " (published by the fixture test)";
    return "";
  }
  std::string content;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    content.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  return content;
}

std::string PublishedManifest() {
  return ReadFixture("api/program-updates/v1/manifest/host");
}

enum class Outcome { kAccepted, kRefused, kJsonError };

Outcome Verify(const std::string& text) {
  try {
    VerifyUpdateManifest(text, "host", "0.2.1", 2);
    return Outcome::kAccepted;
  } catch (const nlohmann::json::exception&) {
    return Outcome::kJsonError;
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), kUpdateValidationFailed);
    return Outcome::kRefused;
  }
}

// The envelope with its payload string replaced (written back with ordinary escaping).
std::string WithPayload(const std::string& manifest, const std::string& payload) {
  nlohmann::json envelope = nlohmann::json::parse(manifest);
  envelope["payload"] = payload;
  return envelope.dump();
}

std::string WithSignature(const std::string& manifest, const std::string& signature) {
  nlohmann::json envelope = nlohmann::json::parse(manifest);
  envelope["signature"] = signature;
  return envelope.dump();
}

std::string PayloadOf(const std::string& manifest) {
  return nlohmann::json::parse(manifest).at("payload").get<std::string>();
}

std::string SignatureOf(const std::string& manifest) {
  return nlohmann::json::parse(manifest).at("signature").get<std::string>();
}

TEST(ManifestSignatureTest, PublishedManifestVerifies) {
  const std::string manifest = PublishedManifest();
  ASSERT_FALSE(manifest.empty());
  const VerifiedManifest verified = VerifyUpdateManifest(manifest, "host", "0.2.1", 2);
  EXPECT_EQ(verified.version, "0.2.2");
  EXPECT_EQ(verified.sequence, 7u);
  EXPECT_EQ(verified.path, ProgramFileRequestPath(verified.sha256));
  // The file the manifest names is there, with that size and digest.
  const std::string program =
      ReadFixture("api/program-updates/v1/files/" + verified.sha256 + ".exe");
  EXPECT_EQ(program.size(), verified.bytes);
  const auto digest = UpdateSha256(
      std::span(reinterpret_cast<const std::uint8_t*>(program.data()), program.size()));
  EXPECT_EQ(ToLowerHex(digest), verified.sha256);
  // The other roles and a higher sequence floor still apply on top of a valid signature.
  EXPECT_THROW(VerifyUpdateManifest(manifest, "viewer", "0.2.1", 2), std::runtime_error);
  EXPECT_THROW(VerifyUpdateManifest(manifest, "host", "0.2.3", 2), std::runtime_error);
  EXPECT_THROW(VerifyUpdateManifest(manifest, "host", "0.2.1", 8), std::runtime_error);
}

TEST(ManifestSignatureTest, EveryChangedPayloadByteFails) {
  const std::string manifest = PublishedManifest();
  ASSERT_EQ(Verify(manifest), Outcome::kAccepted);
  const std::string payload = PayloadOf(manifest);
  ASSERT_GT(payload.size(), 200u);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    std::string changed = payload;
    changed[i] = changed[i] == 'a' ? 'b' : 'a';
    EXPECT_EQ(Verify(WithPayload(manifest, changed)), Outcome::kRefused) << "byte " << i;
  }
  // Added or removed bytes fail as well.
  EXPECT_EQ(Verify(WithPayload(manifest, payload + " ")), Outcome::kRefused);
  EXPECT_EQ(Verify(WithPayload(manifest, payload.substr(1))), Outcome::kRefused);
  EXPECT_EQ(Verify(WithPayload(manifest, payload + '\0')), Outcome::kRefused);
}

TEST(ManifestSignatureTest, EscapingIsFreeAsLongAsTheBytesStay) {
  const std::string manifest = PublishedManifest();
  const std::size_t start = manifest.find("\"payload\":\"") + 11;
  const std::size_t end = manifest.find("\",\"signature\"");
  ASSERT_LT(start, end);
  std::string same_bytes = manifest;
  std::string other_bytes = manifest;
  std::string same_escaped;
  for (char c : manifest.substr(start, end - start)) {
    same_escaped += c == 'v'   ? std::string("\\u0076")
                    : c == '/' ? std::string("\\/")
                               : std::string(1, c);
  }
  same_bytes.replace(start, end - start, same_escaped);
  EXPECT_EQ(Verify(same_bytes), Outcome::kAccepted);
  // An escape that stands for another letter changes the signed bytes.
  const std::size_t v = other_bytes.find('v', start);
  ASSERT_LT(v, end);
  other_bytes.replace(v, 1, "\\u0056");
  EXPECT_EQ(Verify(other_bytes), Outcome::kRefused);
}

TEST(ManifestSignatureTest, SignatureForms) {
  const std::string manifest = PublishedManifest();
  const std::string signature = SignatureOf(manifest);
  ASSERT_EQ(signature.size(), 128u);
  std::string upper = signature;
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  // DER: SEQUENCE { INTEGER r, INTEGER s }, each with a leading zero byte to stay positive.
  const std::string der = "3046022100" + signature.substr(0, 64) + "022100" + signature.substr(64);
  std::string flipped = signature;
  flipped[70] = flipped[70] == '0' ? '1' : '0';
  const std::string swapped = signature.substr(64) + signature.substr(0, 64);
  EXPECT_EQ(Verify(WithSignature(manifest, signature)), Outcome::kAccepted);
  if (upper != signature) {
    EXPECT_EQ(Verify(WithSignature(manifest, upper)), Outcome::kRefused);
  }
  EXPECT_EQ(Verify(WithSignature(manifest, der)), Outcome::kRefused);
  EXPECT_EQ(Verify(WithSignature(manifest, flipped)), Outcome::kRefused);
  EXPECT_EQ(Verify(WithSignature(manifest, swapped)), Outcome::kRefused);
  EXPECT_EQ(Verify(WithSignature(manifest, std::string(128, '0'))), Outcome::kRefused);
}

TEST(ManifestSignatureTest, FourthEnvelopeMemberFailsDespiteAValidSignature) {
  nlohmann::json envelope = nlohmann::json::parse(PublishedManifest());
  envelope["comment"] = "hello";
  EXPECT_EQ(Verify(envelope.dump()), Outcome::kRefused);
}

TEST(ManifestSignatureTest, CompiledInKeyIsAP256Blob) {
  const std::vector<std::uint8_t> key = DecodeLowerHex(UpdatePublicKeyHex());
  ASSERT_EQ(key.size(), kPublicKeyBlobBytes);
  EXPECT_EQ(std::vector<std::uint8_t>(key.begin(), key.begin() + 8),
            (std::vector<std::uint8_t>{0x45, 0x43, 0x53, 0x31, 0x20, 0, 0, 0}));
  // A key off the curve does not import, so nothing verifies with it.
  std::vector<std::uint8_t> broken = key;
  broken[40] ^= 0x01;
  const std::string manifest = PublishedManifest();
  const std::string payload = PayloadOf(manifest);
  const std::vector<std::uint8_t> signature = DecodeLowerHex(SignatureOf(manifest));
  EXPECT_TRUE(VerifyEcdsaP256Signature(key, signature, payload));
  EXPECT_FALSE(VerifyEcdsaP256Signature(broken, signature, payload));
}

TEST(ManifestSignatureTest, Sha256KnownAnswers) {
  const std::string abc = "abc";
  EXPECT_EQ(ToLowerHex(UpdateSha256(
                std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()))),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ToLowerHex(UpdateSha256({})),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ManifestSignatureTest, SystemClockIsAfter2026) {
  // 2026-01-01 as Unix seconds: a clock that reads earlier is misconverted.
  EXPECT_GT(UnixSecondsFromFileTime(ReadSystemFileTime()), 1767225600u);
}

}  // namespace
}  // namespace vexo
