// Consistency rules of a payload catalogue, checked before any resource is read.
#include <gtest/gtest.h>

#include <vector>

#include "common/error_codes.h"
#include "common/failure.h"
#include "payload/catalogue.h"

namespace vexo {
namespace {

constexpr char kDigest[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad0";

std::vector<PayloadEntry> GoodCatalogue() {
  std::vector<PayloadEntry> entries;
  std::uint32_t id = 101;
  for (const wchar_t* path : kAllowedFiles) {
    entries.push_back({id++, path, kDigest});
  }
  return entries;
}

constexpr wchar_t kIdMessage[] = L"내장 파일 식별자가 올바르지 않습니다.";
constexpr wchar_t kPathMessage[] = L"내장 파일 경로가 허용 목록과 다릅니다.";

struct CatalogueCase {
  const char* name;
  std::size_t index;  // entry to change
  std::uint32_t resource_id;
  const wchar_t* relative_path;
  const wchar_t* expected_message;  // nullptr: accepted
};

TEST(VerifyPayloadCatalogueTest, Table) {
  const CatalogueCase cases[] = {
      {"as built", 0, 101, L"Vexo-Host.exe", nullptr},
      {"any id in range", 7, 2000, L"OPENSSL_LICENSE.txt", nullptr},
      {"highest id", 7, 4096, L"OPENSSL_LICENSE.txt", nullptr},
      {"letter case differs", 2, 103, L"ASSETS\\Fonts\\nanumsquarer.TTF", nullptr},
      {"id 100", 3, 100, L"assets\\fonts\\NanumSquareB.ttf", kIdMessage},
      {"id 4097", 3, 4097, L"assets\\fonts\\NanumSquareB.ttf", kIdMessage},
      {"id 0", 0, 0, L"Vexo-Host.exe", kIdMessage},
      {"shared id", 4, 101, L"assets\\fonts\\NanumSquareEB.ttf", kIdMessage},
      {"missing path", 5, 106, nullptr, kIdMessage},
      {"path outside the list", 6, 107, L"assets\\fonts\\evil.dll", kPathMessage},
      {"path twice", 1, 102, L"vexo-host.exe", kPathMessage},
      {"forward slash", 1, 102, L"assets/ppcappicon.ico", kPathMessage},
      {"longer path", 0, 101, L"Vexo-Host.exe ", kPathMessage},
      {"parent folder", 0, 101, L"..\\Vexo-Host.exe", kPathMessage},
  };
  for (const CatalogueCase& c : cases) {
    std::vector<PayloadEntry> catalogue = GoodCatalogue();
    catalogue[c.index].resource_id = c.resource_id;
    catalogue[c.index].relative_path = c.relative_path;
    if (c.expected_message == nullptr) {
      EXPECT_NO_THROW(VerifyPayloadCatalogue(catalogue)) << c.name;
      continue;
    }
    try {
      VerifyPayloadCatalogue(catalogue);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, error::kInvalidData) << c.name;
      EXPECT_EQ(failure.message, c.expected_message) << c.name;
    }
  }
}

TEST(VerifyPayloadCatalogueTest, ListsHaveTheFixedOrder) {
  EXPECT_STREQ(kAllowedFiles.front(), L"Vexo-Host.exe");
  EXPECT_STREQ(kAllowedFiles.back(), L"OPENSSL_LICENSE.txt");
  EXPECT_STREQ(kAllowedFolders[0], L"assets");
  EXPECT_STREQ(kAllowedFolders[1], L"assets\\fonts");
}

}  // namespace
}  // namespace vexo
