// The allowed file and folder lists of a run folder.
#include "payload/catalogue.h"

namespace vexo {

const std::array<const wchar_t*, kPayloadFileCount> kAllowedFiles = {
    L"Vexo-Host.exe",
    L"assets\\ppcappicon.ico",
    L"assets\\fonts\\NanumSquareR.ttf",
    L"assets\\fonts\\NanumSquareB.ttf",
    L"assets\\fonts\\NanumSquareEB.ttf",
    L"assets\\fonts\\OFL.txt",
    L"assets\\fonts\\FONT_NOTICE.txt",
    L"OPENSSL_LICENSE.txt",
};

const std::array<const wchar_t*, 2> kAllowedFolders = {L"assets", L"assets\\fonts"};

}  // namespace vexo
