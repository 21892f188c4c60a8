// The built launcher image as Windows reads it: the application manifest, the version block,
// both icon groups and what the embedded texts and files are. The PE header facts are checked
// by check_image_headers.sh; that every embedded file has its compiled-in digest is the
// launcher's own --verify-payload, run end to end in tests/e2e.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

#include "common/handles.h"
#include "common/unique_resource.h"

namespace vexo {
namespace {

using UniqueIconHandle = UniqueResource<NullableTraits<HICON, &::DestroyIcon>>;

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE color_count;
  BYTE reserved;
  WORD planes;
  WORD bit_count;
  DWORD bytes_in_resource;
  WORD id;
};
#pragma pack(pop)

class LauncherImageTest : public testing::Test {
 protected:
  // The bytes of one resource, empty when it does not exist.
  std::string_view Resource(const wchar_t* name, const wchar_t* type) const {
    const HRSRC info = ::FindResourceW(module_.get(), name, type);
    const HGLOBAL loaded = info != nullptr ? ::LoadResource(module_.get(), info) : nullptr;
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    return data == nullptr ? std::string_view()
                           : std::string_view(static_cast<const char*>(data),
                                              ::SizeofResource(module_.get(), info));
  }
  std::string_view Resource(WORD id, const wchar_t* type) const {
    return Resource(MAKEINTRESOURCEW(id), type);
  }

  // No code of the launcher runs: it is mapped as an image resource file.
  const UniqueModule module_{
      ::LoadLibraryExW(VEXO_LAUNCHER_IMAGE,
                       nullptr,
                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
};

TEST_F(LauncherImageTest, ManifestAsksOnlyForTheInvokersRights) {
  const std::string_view manifest = Resource(1, RT_MANIFEST);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string_view::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string_view::npos);
  // The declaration, then assembly, trustInfo, security, requestedPrivileges and
  // requestedExecutionLevel with four closing tags: nothing else.
  EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '<'), 1 + 5 + 4);
}

TEST_F(LauncherImageTest, VersionBlockNamesTheProductInKorean) {
  DWORD ignored = 0;
  std::vector<std::uint8_t> block(::GetFileVersionInfoSizeW(VEXO_LAUNCHER_IMAGE, &ignored));
  ASSERT_TRUE(::GetFileVersionInfoW(VEXO_LAUNCHER_IMAGE, 0, static_cast<DWORD>(block.size()),
                                    block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000002u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(*static_cast<const DWORD*>(value), 0x04B00412u);  // Korean, Unicode
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileDescription", L"벡소링크 원격지원 포터블 고객용"},
      {L"FileVersion", L"0.2.1"},
      {L"OriginalFilename", L"Vexo-Host.exe"},
      {L"ProductName", L"벡소링크 원격지원"},
  };
  for (const auto& [name, expected] : strings) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041204B0\\") + name;
    ASSERT_TRUE(::VerQueryValueW(block.data(), query.c_str(), &value, &length)) << name;
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), expected) << name;
  }
}

TEST_F(LauncherImageTest, BothIconGroupsHoldSeven32BitSizesWindowsCanShow) {
  for (WORD group_id : {1, 2}) {
    const std::string_view group = Resource(group_id, RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u) << group_id;
    std::set<int> edges;
    for (std::size_t at = 6; at + sizeof(GroupIconEntry) <= group.size();
         at += sizeof(GroupIconEntry)) {
      GroupIconEntry entry{};
      std::memcpy(&entry, group.data() + at, sizeof entry);
      const int edge = entry.width == 0 ? 256 : entry.width;
      const std::string_view image = Resource(entry.id, RT_ICON);
      EXPECT_EQ(entry.bit_count, 32);
      EXPECT_EQ(image.size(), entry.bytes_in_resource);
      const UniqueIconHandle icon(::CreateIconFromResourceEx(
          reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
          static_cast<DWORD>(image.size()), TRUE, 0x00030000, edge, edge, LR_DEFAULTCOLOR));
      EXPECT_TRUE(icon.valid()) << "group " << group_id << ", " << edge << " px";
      edges.insert(edge);
    }
    EXPECT_EQ(edges, (std::set<int>{16, 24, 32, 48, 64, 128, 256})) << group_id;
  }
}

// The licence texts are taken out of the build machine's copyright files whole and without
// their indentation; the Host and the fonts are what their names say.
TEST_F(LauncherImageTest, EmbeddedFilesAreWhatTheyClaim) {
  const std::string_view ofl = Resource(106, RT_RCDATA);
  const std::string_view mit = Resource(L"VEXO_UPDATE_NLOHMANN_LICENSE", RT_RCDATA);
  const std::pair<std::string_view, std::string_view> cases[] = {
      {mit.substr(0, 12), "MIT License\n"},
      {mit, "Niels Lohmann\n"},
      {mit.substr(mit.size() - 12), "SOFTWARE."},
      {ofl.substr(0, 14), "Copyright (c) "},
      {ofl, "\nSIL OPEN FONT LICENSE"},
      {ofl.substr(ofl.size() - 40), "OTHER DEALINGS IN THE FONT SOFTWARE."},
      {Resource(101, RT_RCDATA).substr(0, 2), "MZ"},  // the Host is a Windows program
      {Resource(103, RT_RCDATA).substr(0, 4), std::string_view("\0\1\0\0", 4)},  // TrueType
      {Resource(107, RT_RCDATA), "OFL.txt"},
      {Resource(108, RT_RCDATA), "Apache License"},
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_NE(bytes.find(expected), std::string_view::npos) << expected;
  }
  EXPECT_EQ(ofl.find("\n "), std::string_view::npos) << "indented line in the OFL text";
  EXPECT_TRUE(Resource(100, RT_RCDATA).empty());
  EXPECT_TRUE(Resource(109, RT_RCDATA).empty());
}

}  // namespace
}  // namespace vexo
