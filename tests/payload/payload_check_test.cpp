// SHA-256 proof of resources and files, with real CNG and real images.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/common/catch_failure.h"

#include <filesystem>
#include <string>
#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "common/hex.h"
#include "payload/payload_check.h"

namespace vexo {
namespace {

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kVexoDigest[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad0";
// SHA-256 of 67,108,864 zero bytes.
constexpr char kZeros64MiBDigest[] =
    "3b6a07d0d404fab4e23b6d34bc6696a6a312dd92821332385e5af7c01c421351";

constexpr wchar_t kMismatch[] =
    L"내장 파일이 현재 실행 파일의 버전과 일치하지 않아 실행 또는 정리하지 않습니다.";
constexpr wchar_t kDigestInfo[] = L"내장 파일 검증 정보가 올바르지 않습니다.";
constexpr wchar_t kSizeInvalid[] = L"내장 파일 크기가 올바르지 않습니다.";
constexpr wchar_t kMissing[] = L"필요한 내장 파일이 없습니다.";

std::filesystem::path TempDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, buffer);
  std::filesystem::path folder = std::filesystem::path(buffer) /
                                 (L"vexo-payload-test-" + std::to_wstring(::GetCurrentProcessId()));
  std::filesystem::create_directories(folder);
  return folder;
}

struct DigestCase {
  const char* name;
  const void* data;
  std::uint32_t size;
  const char* expected;
  const wchar_t* message;  // nullptr: matches
};

TEST(FinishAndCompareDigestTest, Table) {
  const char upper[] = "008DEFC4B908FA2E2485D921F7456162469B0830C2CC63F0F5DB08740AC04AD0";
  const char short_digest[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad";
  const char long_digest[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad00";
  const char other[] = "108defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad0";
  // Upper-case letters beyond F are not folded, so they never match.
  const char folded_too_far[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04aD0";
  const DigestCase cases[] = {
      {"lower case", "vexo", 4, kVexoDigest, nullptr},
      {"upper case", "vexo", 4, upper, nullptr},
      {"mixed A-F", "vexo", 4, folded_too_far, nullptr},
      {"zero bytes", "", 0, kEmptyDigest, nullptr},
      {"63 characters", "vexo", 4, short_digest, kDigestInfo},
      {"65 characters", "vexo", 4, long_digest, kDigestInfo},
      {"missing", "vexo", 4, nullptr, kDigestInfo},
      {"other bytes", "vexo", 4, other, kMismatch},
      {"other content", "vexO", 4, kVexoDigest, kMismatch},
  };
  for (const DigestCase& c : cases) {
    Sha256Hasher hasher = NewPayloadHasher();
    hasher.Add(std::span(reinterpret_cast<const std::uint8_t*>(c.data), c.size));
    if (c.message == nullptr) {
      EXPECT_NO_THROW(FinishAndCompareDigest(hasher, c.expected)) << c.name;
      continue;
    }
    const Failure failure = CatchFailure([&] { FinishAndCompareDigest(hasher, c.expected); });
    EXPECT_EQ(failure.code, error::kInvalidData) << c.name;
    EXPECT_EQ(failure.message, c.message) << c.name;
  }
}

UniqueHandle CreateScratchFile(const std::filesystem::path& path, const std::string& content) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.valid());
  DWORD written = 0;
  if (!content.empty()) {
    EXPECT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                            &written, nullptr));
  }
  return file;
}

std::int64_t FilePosition(HANDLE file) {
  LARGE_INTEGER zero{};
  LARGE_INTEGER position{};
  ::SetFilePointerEx(file, zero, &position, FILE_CURRENT);
  return position.QuadPart;
}

TEST(VerifyFileDigestTest, EmptyFileHasTheDigestOfZeroBytes) {
  const auto path = TempDirectory() / L"empty.bin";
  const UniqueHandle file = CreateScratchFile(path, "");
  EXPECT_NO_THROW(VerifyFileDigest(file.get(), kEmptyDigest));
  EXPECT_EQ(FilePosition(file.get()), 0);
}

TEST(VerifyFileDigestTest, HashesFromTheStartAndRewinds) {
  const auto path = TempDirectory() / L"vexo.bin";
  // The write leaves the position at the end; the check must still see every byte.
  const UniqueHandle file = CreateScratchFile(path, "vexo");
  ASSERT_EQ(FilePosition(file.get()), 4);
  EXPECT_NO_THROW(VerifyFileDigest(file.get(), kVexoDigest));
  EXPECT_EQ(FilePosition(file.get()), 0);

  const Failure failure = CatchFailure([&] { VerifyFileDigest(file.get(), kEmptyDigest); });
  EXPECT_EQ(failure.code, error::kInvalidData);
  EXPECT_EQ(failure.message, kMismatch);
}

TEST(VerifyFileDigestTest, ChunkBoundariesDoNotLoseBytes) {
  const auto path = TempDirectory() / L"chunks.bin";
  // 64 KiB + 1: one full chunk and one byte more. The digest comes from the same bytes
  // hashed in one call.
  const std::string content(65536 + 1, 'v');
  const UniqueHandle file = CreateScratchFile(path, content);
  Sha256Hasher reference = NewPayloadHasher();
  reference.Add(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
  const std::string hex = ToLowerHex(reference.Finish());
  EXPECT_NO_THROW(VerifyFileDigest(file.get(), hex.c_str()));
}

TEST(VerifyFileDigestTest, UnreadableHandleReportsTheSystemError) {
  const auto path = TempDirectory() / L"write-only.bin";
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid());
  const Failure failure = CatchFailure([&] { VerifyFileDigest(file.get(), kEmptyDigest); });
  EXPECT_EQ(failure.message, L"검증 파일을 읽지 못했습니다.");
  EXPECT_EQ(failure.code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
}

// A copy of this test program with one RT_RCDATA resource of `size` zero bytes (id 3000).
std::filesystem::path ImageWithZeroResource(std::uint32_t size) {
  wchar_t self[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const auto copy = TempDirectory() / (L"image-" + std::to_wstring(size) + L".exe");
  std::filesystem::copy_file(self, copy, std::filesystem::copy_options::overwrite_existing);
  HANDLE update = ::BeginUpdateResourceW(copy.c_str(), FALSE);
  EXPECT_NE(update, nullptr);
  std::vector<std::uint8_t> zeros(size, 0);
  EXPECT_TRUE(::UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(3000),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), zeros.data(), size));
  EXPECT_TRUE(::EndUpdateResourceW(update, FALSE));
  return copy;
}

UniqueModule LoadImageResources(const std::filesystem::path& image) {
  return UniqueModule(::LoadLibraryExW(image.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

TEST(LoadVerifiedResourceTest, SizeLimitIsInclusive) {
  const UniqueModule exact = LoadImageResources(ImageWithZeroResource(kMaxPayloadResourceBytes));
  ASSERT_TRUE(exact.valid());
  const PayloadEntry entry{3000, L"Vexo-Host.exe", kZeros64MiBDigest};
  const PayloadView view = LoadVerifiedResourceFrom(exact.get(), entry);
  EXPECT_EQ(view.size, kMaxPayloadResourceBytes);

  const UniqueModule over = LoadImageResources(ImageWithZeroResource(kMaxPayloadResourceBytes + 1));
  ASSERT_TRUE(over.valid());
  const Failure failure = CatchFailure([&] { LoadVerifiedResourceFrom(over.get(), entry); });
  EXPECT_EQ(failure.code, error::kInvalidData);
  EXPECT_EQ(failure.message, kSizeInvalid);
}

TEST(LoadVerifiedResourceTest, MissingAndMismatchedResources) {
  const UniqueModule image = LoadImageResources(ImageWithZeroResource(16));
  ASSERT_TRUE(image.valid());
  const Failure missing = CatchFailure([&] {
    LoadVerifiedResourceFrom(image.get(), PayloadEntry{3001, L"x", kEmptyDigest});
  });
  EXPECT_EQ(missing.code, error::kResourceDataNotFound);
  EXPECT_EQ(missing.message, kMissing);

  const Failure mismatch = CatchFailure([&] {
    LoadVerifiedResourceFrom(image.get(), PayloadEntry{3000, L"x", kEmptyDigest});
  });
  EXPECT_EQ(mismatch.code, error::kInvalidData);
  EXPECT_EQ(mismatch.message, kMismatch);
}

}  // namespace
}  // namespace vexo
