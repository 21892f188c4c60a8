#include "payload/embedded_catalogue.h"

#include "payload/payload_digests.h"

namespace vexo {

const std::array<PayloadEntry, kPayloadFileCount> kPayloadCatalogue = {{
    {101, L"Vexo-Host.exe", payload_digest::kHost},
    {102, L"assets\\ppcappicon.ico", payload_digest::kIcon},
    {103, L"assets\\fonts\\NanumSquareR.ttf", payload_digest::kFontRegular},
    {104, L"assets\\fonts\\NanumSquareB.ttf", payload_digest::kFontBold},
    {105, L"assets\\fonts\\NanumSquareEB.ttf", payload_digest::kFontExtraBold},
    {106, L"assets\\fonts\\OFL.txt", payload_digest::kFontLicense},
    {107, L"assets\\fonts\\FONT_NOTICE.txt", payload_digest::kFontNotice},
    {108, L"OPENSSL_LICENSE.txt", payload_digest::kOpensslLicense},
}};

void VerifyPayloadCatalogue() {
  VerifyPayloadCatalogue(kPayloadCatalogue);
}

}  // namespace vexo
