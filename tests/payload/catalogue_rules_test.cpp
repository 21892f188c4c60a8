// Consistency rules of a payload catalogue, checked before any resource is read.
#include <gtest/gtest.h>

#include <vector>

#include "common/error_codes.h"
#include "payload/catalogue.h"
#include "payload/messages.h"
#include "tests/common/catch_failure.h"

namespace vexo {
namespace {

constexpr char kDigest[] = "008defc4b908fa2e2485d921f7456162469b0830c2cc63f0f5db08740ac04ad0";

TEST(VerifyPayloadCatalogueTest, Table) {
  const struct {
    const char* name;
    std::size_t index;  // entry to change
    std::uint32_t resource_id;
    const wchar_t* relative_path;
    const wchar_t* message;  // nullptr: accepted
  } cases[] = {
      {"highest id", 7, 4096, L"OPENSSL_LICENSE.txt", nullptr},
      {"letter case differs", 2, 103, L"ASSETS\\Fonts\\nanumsquarer.TTF", nullptr},
      {"id 100", 3, 100, L"assets\\fonts\\NanumSquareB.ttf", message::kPayloadIdInvalid},
      {"id 4097", 3, 4097, L"assets\\fonts\\NanumSquareB.ttf", message::kPayloadIdInvalid},
      {"shared id", 4, 101, L"assets\\fonts\\NanumSquareEB.ttf", message::kPayloadIdInvalid},
      {"missing path", 5, 106, nullptr, message::kPayloadIdInvalid},
      {"path outside the list", 6, 107, L"assets\\fonts\\evil.dll",
       message::kPayloadPathNotAllowed},
      {"path twice", 1, 102, L"vexo-host.exe", message::kPayloadPathNotAllowed},
      {"forward slash", 1, 102, L"assets/ppcappicon.ico", message::kPayloadPathNotAllowed},
      {"parent folder", 0, 101, L"..\\Vexo-Host.exe", message::kPayloadPathNotAllowed},
  };
  for (const auto& c : cases) {
    std::vector<PayloadEntry> catalogue;
    for (const wchar_t* path : kAllowedFiles) {
      catalogue.push_back({static_cast<std::uint32_t>(101 + catalogue.size()), path, kDigest});
    }
    catalogue[c.index] = {c.resource_id, c.relative_path, kDigest};
    EXPECT_EQ(RefusalOf([&] { VerifyPayloadCatalogue(catalogue); }),
              c.message == nullptr ? L"" : Refusal(error::kInvalidData, c.message))
        << c.name;
  }
}

}  // namespace
}  // namespace vexo
