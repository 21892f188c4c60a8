// SHA-256 proof of resources and files, with real CNG and real images. That a damaged or
// missing payload resource stops the launcher is shown end to end
// (tests/e2e/launcher_modes_test.cpp); here are the rules behind it.
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
constexpr char kZeros64MiBDigest[] =
    "3b6a07d0d404fab4e23b6d34bc6696a6a312dd92821332385e5af7c01c421351";
constexpr std::uint16_t kTestResourceId = 3000;

TEST(FinishAndCompareDigestTest, Table) {
  const struct {
    const char* bytes;
    const char* digest;
    const wchar_t* message;  // nullptr: matches
  } cases[] = {
      {"vexo", kVexoDigest, nullptr},
      {"vexo", "008DEFC4B908FA2E2485D921F7456162469B0830C2CC63F0F5DB08740AC04AD0", nullptr},
      {"", kEmptyDigest, nullptr},
      {"vexo", "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad",
       message::kDigestInfoInvalid},
      {"vexo", nullptr, message::kDigestInfoInvalid},
      {"vexO", kVexoDigest, message::kVersionMismatch},
  };
  for (const auto& c : cases) {
    Sha256Hasher hasher = NewPayloadHasher();
    hasher.Add(std::span(reinterpret_cast<const std::uint8_t*>(c.bytes), std::strlen(c.bytes)));
    std::wstring refusal;
    try {
      FinishAndCompareDigest(hasher, c.digest);
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, error::kInvalidData);
      refusal = failure.message;
    }
    EXPECT_EQ(refusal, c.message == nullptr ? L"" : c.message) << c.bytes;
  }
}

// The file is hashed from its start whatever its position, in chunks, and left rewound.
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
  EXPECT_EQ(CatchFailure([&] { VerifyFileDigest(file.get(), kEmptyDigest); }).message,
            message::kVersionMismatch);
  const UniqueHandle write_only(::CreateFileW(scratch.Join(L"w.bin").c_str(), GENERIC_WRITE, 0,
                                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  const Failure unreadable =
      CatchFailure([&] { VerifyFileDigest(write_only.get(), kEmptyDigest); });
  EXPECT_EQ(unreadable.code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(unreadable.message, message::kVerifiedFileReadFailed);
}

// A copy of this test program with one resource of `size` zero bytes, mapped for resources.
UniqueModule ImageWithZeroResource(const test::ScratchFolder& scratch, std::uint32_t size) {
  const std::wstring copy = scratch.Join(std::to_wstring(size) + L".exe");
  test::CopyFileFresh(test::CurrentProgramFolder() + L"\\payload_check_test.exe", copy);
  const std::vector<std::uint8_t> zeros(size, 0);
  const HANDLE update = ::BeginUpdateResourceW(copy.c_str(), FALSE);
  EXPECT_TRUE(::UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(kTestResourceId),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<std::uint8_t*>(zeros.data()), size));
  EXPECT_TRUE(::EndUpdateResourceW(update, FALSE));
  return UniqueModule(::LoadLibraryExW(copy.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

TEST(LoadVerifiedResourceTest, SizeLimitIsInclusiveAndEveryFailureIsNamed) {
  const test::ScratchFolder scratch;
  const PayloadEntry entry{kTestResourceId, L"Vexo-Host.exe", kZeros64MiBDigest};
  const UniqueModule exact = ImageWithZeroResource(scratch, kMaxPayloadResourceBytes);
  EXPECT_EQ(LoadVerifiedResourceFrom(exact.get(), entry).size, kMaxPayloadResourceBytes);
  const UniqueModule over = ImageWithZeroResource(scratch, kMaxPayloadResourceBytes + 1);
  EXPECT_EQ(CatchFailure([&] { LoadVerifiedResourceFrom(over.get(), entry); }).message,
            message::kPayloadSizeInvalid);
  const Failure missing = CatchFailure([&] {
    LoadVerifiedResourceFrom(exact.get(), PayloadEntry{kTestResourceId + 1, L"x", kEmptyDigest});
  });
  EXPECT_EQ(missing.code, error::kResourceDataNotFound);
  EXPECT_EQ(missing.message, message::kPayloadResourceMissing);
  EXPECT_EQ(CatchFailure([&] {
              LoadVerifiedResourceFrom(exact.get(), {kTestResourceId, L"x", kEmptyDigest});
            }).message,
            message::kVersionMismatch);
}

}  // namespace
}  // namespace vexo
