// SHA-256 proof of files and digests, with real CNG. That a damaged or missing payload
// resource stops the launcher is shown end to end (tests/e2e/launcher_modes_test.cpp).
#include <gtest/gtest.h>

#include <cstring>

#include "common/error_codes.h"
#include "payload/messages.h"
#include "payload/payload_check.h"
#include "tests/common/catch_failure.h"
#include "tests/support/wine_driver.h"

namespace vexo {
namespace {

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kVexoDigest[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad0";
// 65,537 bytes 'v': one read chunk and one byte more.
constexpr char kChunkAndOneDigest[] =
    "b3d4a80ef226c60808b1513ab3a1217ab0b0fbfa4154410a681796b2d6a64718";

TEST(FinishAndCompareDigestTest, Table) {
  const std::wstring mismatch = Refusal(error::kInvalidData, message::kVersionMismatch);
  const std::wstring malformed = Refusal(error::kInvalidData, message::kDigestInfoInvalid);
  const struct {
    const char* bytes;
    const char* digest;
    std::wstring refusal;
  } cases[] = {
      {"vexo", kVexoDigest, L""},
      {"vexo", "008DEFC4B908FA2E2485D921F7456162469B0830C2CC63F0F5DB08740AC04AD0", L""},
      {"", kEmptyDigest, L""},
      {"vexo", "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad", malformed},
      {"vexo", nullptr, malformed},
      {"vexO", kVexoDigest, mismatch},
  };
  for (const auto& c : cases) {
    Sha256Hasher hasher = NewPayloadHasher();
    hasher.Add(std::span(reinterpret_cast<const std::uint8_t*>(c.bytes), std::strlen(c.bytes)));
    EXPECT_EQ(RefusalOf([&] { FinishAndCompareDigest(hasher, c.digest); }), c.refusal) << c.bytes;
  }
}

// The file is hashed from its start whatever its position, in chunks, and left rewound; a
// handle that cannot read says so.
TEST(VerifyFileDigestTest, HashesTheWholeFileAndRewinds) {
  const test::ScratchFolder scratch;
  const UniqueHandle file(::CreateFileW(scratch.Join(L"f.bin").c_str(),
                                        GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string content(65537, 'v');
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), content.data(), 65537, &written, nullptr));
  VerifyFileDigest(file.get(), kChunkAndOneDigest);
  EXPECT_EQ(::SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT), 0u);
  EXPECT_EQ(RefusalOf([&] { VerifyFileDigest(file.get(), kEmptyDigest); }),
            Refusal(error::kInvalidData, message::kVersionMismatch));
  const UniqueHandle write_only(::CreateFileW(scratch.Join(L"w.bin").c_str(), GENERIC_WRITE, 0,
                                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_EQ(RefusalOf([&] { VerifyFileDigest(write_only.get(), kEmptyDigest); }),
            Refusal(ERROR_ACCESS_DENIED, message::kVerifiedFileReadFailed));
}

}  // namespace
}  // namespace vexo
