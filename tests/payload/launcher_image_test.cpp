// The built launcher image as Windows and a customer read it: the application manifest, the
// version block and both icon groups. The PE header facts are checked by
// check_image_headers.sh; that every embedded file has its compiled-in digest is the launcher's
// own --verify-payload, run end to end in tests/e2e.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

#include "common/handles.h"
#include "launcher/program_version.h"
#include "tools/wine-bench/wine_driver.h"

namespace vexo {
namespace {

const std::wstring kLauncher = test::InBuildTree(VEXO_LAUNCHER_IMAGE);
// No code of the launcher runs: it is mapped as an image resource file.
const UniqueModule kImage(::LoadLibraryExW(kLauncher.c_str(),
                                           nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE |
                                               LOAD_LIBRARY_AS_IMAGE_RESOURCE));

// The bytes of one resource, empty when it does not exist.
std::string_view Resource(WORD id, const wchar_t* type) {
  const HRSRC info = ::FindResourceW(kImage.get(), MAKEINTRESOURCEW(id), type);
  const void* data = info != nullptr ? ::LockResource(::LoadResource(kImage.get(), info)) : nullptr;
  return data == nullptr ? std::string_view()
                         : std::string_view(static_cast<const char*>(data),
                                            ::SizeofResource(kImage.get(), info));
}

TEST(LauncherImageTest, ManifestAsksOnlyForTheInvokersRights) {
  const std::string_view manifest = Resource(1, RT_MANIFEST);
  EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string_view::npos)
      << manifest;
  // The declaration, then assembly, trustInfo, security, requestedPrivileges and
  // requestedExecutionLevel with four closing tags: nothing else.
  EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '<'), 1 + 5 + 4);
}

TEST(LauncherImageTest, VersionBlockNamesTheProductInKoreanWithTheBuildsVersion) {
  DWORD ignored = 0;
  std::vector<std::uint8_t> block(::GetFileVersionInfoSizeW(kLauncher.c_str(), &ignored));
  ASSERT_TRUE(
      ::GetFileVersionInfoW(kLauncher.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  const auto value = [&](const std::wstring& path) -> const void* {
    void* found = nullptr;
    UINT length = 0;
    return ::VerQueryValueW(block.data(), path.c_str(), &found, &length) ? found : nullptr;
  };
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwFileVersionMS,
            MAKELONG(VEXO_PROGRAM_VERSION_MINOR, VEXO_PROGRAM_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, VEXO_PROGRAM_VERSION_PATCH));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const auto* translation = static_cast<const DWORD*>(value(L"\\VarFileInfo\\Translation"));
  ASSERT_NE(translation, nullptr);
  EXPECT_EQ(*translation, 0x04B00412u);  // Korean, Unicode
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileDescription", L"벡소링크 원격지원 포터블 고객용"},
      {L"FileVersion", L"" VEXO_PROGRAM_VERSION_TEXT},
      {L"OriginalFilename", L"Vexo-Host.exe"},
      {L"ProductName", L"벡소링크 원격지원"},
  };
  for (const auto& [name, expected] : strings) {
    const void* text = value(std::wstring(L"\\StringFileInfo\\041204B0\\") + name);
    EXPECT_EQ(text != nullptr ? static_cast<const wchar_t*>(text) : L"", std::wstring(expected));
  }
}

TEST(LauncherImageTest, BothIconGroupsHoldSeven32BitSizesWindowsCanShow) {
  for (WORD group_id : {1, 2}) {
    const std::string_view group = Resource(group_id, RT_GROUP_ICON);
    std::set<int> edges;
    // After a 6-byte header, entries of 14 bytes: width (0 for 256), height, colours, reserved,
    // planes, bit count at 6, bytes at 8, icon id at 12.
    for (std::size_t at = 6; at + 14 <= group.size(); at += 14) {
      const auto field = [&](std::size_t offset, std::size_t size) {
        std::uint32_t read = 0;
        std::memcpy(&read, group.data() + at + offset, size);
        return read;
      };
      const int edge = field(0, 1) == 0 ? 256 : static_cast<int>(field(0, 1));
      const std::string_view image = Resource(static_cast<WORD>(field(12, 2)), RT_ICON);
      EXPECT_EQ(field(6, 2), 32u);
      EXPECT_EQ(image.size(), field(8, 4));
      const UniqueResource<NullableTraits<HICON, &::DestroyIcon>> icon(::CreateIconFromResourceEx(
          reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
          static_cast<DWORD>(image.size()), TRUE, 0x00030000, edge, edge, LR_DEFAULTCOLOR));
      EXPECT_TRUE(icon.valid()) << "group " << group_id << ", " << edge << " px";
      edges.insert(edge);
    }
    EXPECT_EQ(edges, (std::set<int>{16, 24, 32, 48, 64, 128, 256})) << group_id;
  }
}

}  // namespace
}  // namespace vexo
