// Inspects the built launcher image as Windows sees it: PE header facts, the application
// manifest, the version block, both icon groups and the embedded files with their digests.
#include <gtest/gtest.h>

#include <windows.h>

#include <bcrypt.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/handles.h"
#include "common/unique_resource.h"
#include "payload/payload_digests.h"

namespace vexo {
namespace {

// The launcher loaded as an image resource file: no code of it runs.
using UniqueDataModule = UniqueModule;

using UniqueIconHandle = UniqueResource<NullableTraits<HICON, &::DestroyIcon>>;

const wchar_t* LauncherImagePath() {
  return VEXO_LAUNCHER_IMAGE;
}

std::vector<std::uint8_t> ReadWholeFile(const wchar_t* path) {
  UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.valid()) << "cannot open " << path << ", error " << GetLastError();
  if (!file.valid()) {
    return {};
  }
  LARGE_INTEGER size{};
  EXPECT_TRUE(GetFileSizeEx(file.get(), &size));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr));
  EXPECT_EQ(read, bytes.size());
  return bytes;
}

template <typename T>
T ReadAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) {
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
  } else {
    ADD_FAILURE() << "read beyond the end of the data at offset " << offset;
  }
  return value;
}

UniqueDataModule LoadLauncherAsData() {
  UniqueDataModule module(LoadLibraryExW(
      LauncherImagePath(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  EXPECT_TRUE(module.valid()) << "LoadLibraryExW failed, error " << GetLastError();
  return module;
}

// The bytes of one resource of `module`, empty when it does not exist.
std::string_view ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
  HRSRC info = FindResourceW(module, name, type);
  if (info == nullptr) {
    return {};
  }
  const DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) {
    return {};
  }
  return {static_cast<const char*>(data), size};
}

std::string Sha256Hex(std::string_view bytes) {
  UniqueAlgorithmHandle algorithm;
  if (BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
    ADD_FAILURE() << "no SHA-256 provider";
    return {};
  }
  DWORD object_length = 0;
  ULONG written = 0;
  EXPECT_EQ(BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH,
                              reinterpret_cast<PUCHAR>(&object_length), sizeof(object_length),
                              &written, 0),
            0);
  std::vector<UCHAR> object(object_length);
  UniqueHashHandle hash;
  std::vector<UCHAR> digest(32);
  if (BCryptCreateHash(algorithm.get(), hash.put(), object.data(), object_length, nullptr, 0, 0) !=
          0 ||
      BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                     static_cast<ULONG>(bytes.size()), 0) != 0 ||
      BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) != 0) {
    ADD_FAILURE() << "hashing failed";
    return {};
  }
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  for (UCHAR byte : digest) {
    hex.push_back(kHexDigits[byte >> 4]);
    hex.push_back(kHexDigits[byte & 0x0F]);
  }
  return hex;
}

TEST(LauncherImageTest, HeadersSayX64GuiHardenedAndUndated) {
  const std::vector<std::uint8_t> image = ReadWholeFile(LauncherImagePath());
  ASSERT_GE(image.size(), sizeof(IMAGE_DOS_HEADER));
  const auto dos = ReadAt<IMAGE_DOS_HEADER>(image, 0);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  const auto nt = ReadAt<IMAGE_NT_HEADERS64>(image, static_cast<std::size_t>(dos.e_lfanew));
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt.FileHeader.TimeDateStamp, 0u);
  EXPECT_NE(nt.FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE, 0);
  EXPECT_EQ(nt.FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
  ASSERT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  const WORD hardening = IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                         IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT;
  EXPECT_EQ(hardening, 0x160);
  EXPECT_EQ(nt.OptionalHeader.DllCharacteristics & hardening, hardening);
}

// Element names of an XML document, in order (declarations and closing tags left out).
std::vector<std::string> XmlElementNames(std::string_view xml) {
  std::vector<std::string> names;
  for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    if (at + 1 < xml.size() && (xml[at + 1] == '?' || xml[at + 1] == '/')) {
      continue;
    }
    const std::size_t end = xml.find_first_of(" \t\r\n/>", at + 1);
    names.emplace_back(xml.substr(at + 1, end - at - 1));
  }
  return names;
}

TEST(LauncherImageTest, ManifestAsksOnlyForTheInvokersRights) {
  UniqueDataModule module = LoadLauncherAsData();
  ASSERT_TRUE(module.valid());
  const std::string_view manifest =
      ResourceBytes(module.get(), CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string_view::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string_view::npos);
  const std::vector<std::string> expected = {"assembly", "trustInfo", "security",
                                             "requestedPrivileges", "requestedExecutionLevel"};
  EXPECT_EQ(XmlElementNames(manifest), expected);
}

TEST(LauncherImageTest, VersionBlockNamesTheProductInKorean) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(LauncherImagePath(), &ignored);
  ASSERT_NE(size, 0u) << "error " << GetLastError();
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(LauncherImagePath(), 0, size, block.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000002u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00000002u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], 0x0412);
  EXPECT_EQ(translation[1], 0x04B0);

  struct StringCase {
    const wchar_t* name;
    const wchar_t* expected;
  };
  const StringCase cases[] = {
      {L"CompanyName", L"벡소링크"},
      {L"FileDescription", L"벡소링크 원격지원 포터블 고객용"},
      {L"FileVersion", L"0.2.1"},
      {L"InternalName", L"Vexo"},
      {L"OriginalFilename", L"Vexo-Host.exe"},
      {L"ProductName", L"벡소링크 원격지원"},
      {L"ProductVersion", L"0.2.1"},
  };
  for (const StringCase& c : cases) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041204B0\\") + c.name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), &value, &length)) << c.name;
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), c.expected) << c.name;
  }
}

// One image of an icon: 32-bit BMP (header, colour, AND mask) or 32-bit RGBA PNG.
void ExpectIconImage(std::string_view image, int edge) {
  static constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
  if (image.substr(0, 8) == std::string_view(kPngSignature, 8)) {
    const std::vector<std::uint8_t> bytes(image.begin(), image.end());
    ASSERT_GE(bytes.size(), 33u);
    EXPECT_EQ(image.substr(12, 4), "IHDR");
    const auto big_endian = [&](std::size_t at) {
      return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
             (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
    };
    EXPECT_EQ(big_endian(16), static_cast<std::uint32_t>(edge));
    EXPECT_EQ(big_endian(20), static_cast<std::uint32_t>(edge));
    EXPECT_EQ(bytes[24], 8) << "bits per channel";
    EXPECT_EQ(bytes[25], 6) << "colour type RGBA";
    return;
  }
  const std::vector<std::uint8_t> bytes(image.begin(), image.end());
  const auto header = ReadAt<BITMAPINFOHEADER>(bytes, 0);
  EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(header.biWidth, edge);
  EXPECT_EQ(header.biHeight, 2 * edge) << "colour and mask";
  EXPECT_EQ(header.biBitCount, 32);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
  const std::size_t mask_stride = static_cast<std::size_t>((edge + 31) / 32 * 4);
  const std::size_t expected_size = sizeof(BITMAPINFOHEADER) +
                                    static_cast<std::size_t>(edge * edge * 4) +
                                    mask_stride * static_cast<std::size_t>(edge);
  EXPECT_EQ(image.size(), expected_size);
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
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

TEST(LauncherImageTest, BothIconGroupsHoldSeven32BitSizes) {
  UniqueDataModule module = LoadLauncherAsData();
  ASSERT_TRUE(module.valid());
  const std::set<int> expected_edges = {16, 24, 32, 48, 64, 128, 256};
  for (WORD group_id : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "icon group " << group_id);
    const std::string_view group =
        ResourceBytes(module.get(), MAKEINTRESOURCEW(group_id), RT_GROUP_ICON);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    const std::vector<std::uint8_t> bytes(group.begin(), group.end());
    const auto header = ReadAt<GroupIconHeader>(bytes, 0);
    EXPECT_EQ(header.type, 1);
    ASSERT_EQ(header.count, expected_edges.size());
    std::set<int> edges;
    for (std::size_t i = 0; i < header.count; ++i) {
      const auto entry =
          ReadAt<GroupIconEntry>(bytes, sizeof(GroupIconHeader) + i * sizeof(GroupIconEntry));
      const int edge = entry.width == 0 ? 256 : entry.width;
      EXPECT_EQ(entry.height, entry.width);
      EXPECT_EQ(entry.bit_count, 32);
      EXPECT_EQ(entry.planes, 1);
      edges.insert(edge);
      const std::string_view image =
          ResourceBytes(module.get(), MAKEINTRESOURCEW(entry.id), RT_ICON);
      ASSERT_EQ(image.size(), entry.bytes_in_resource) << "icon " << entry.id;
      ExpectIconImage(image, edge);
      UniqueIconHandle icon(CreateIconFromResourceEx(
          reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
          static_cast<DWORD>(image.size()), TRUE, 0x00030000, edge, edge, LR_DEFAULTCOLOR));
      EXPECT_TRUE(icon.valid()) << "Windows cannot make an icon of the " << edge << " px image";
    }
    EXPECT_EQ(edges, expected_edges);
  }
}

struct EmbeddedFileCase {
  WORD id;
  const char* expected_digest;
};

TEST(LauncherImageTest, PayloadResourcesMatchTheCompiledDigests) {
  UniqueDataModule module = LoadLauncherAsData();
  ASSERT_TRUE(module.valid());
  const EmbeddedFileCase cases[] = {
      {101, payload_digest::kHost},          {102, payload_digest::kIcon},
      {103, payload_digest::kFontRegular},   {104, payload_digest::kFontBold},
      {105, payload_digest::kFontExtraBold}, {106, payload_digest::kFontLicense},
      {107, payload_digest::kFontNotice},    {108, payload_digest::kOpensslLicense},
  };
  std::set<std::string> digests;
  for (const EmbeddedFileCase& c : cases) {
    const std::string_view bytes = ResourceBytes(module.get(), MAKEINTRESOURCEW(c.id), RT_RCDATA);
    ASSERT_FALSE(bytes.empty()) << "resource " << c.id;
    EXPECT_EQ(std::strlen(c.expected_digest), 64u);
    EXPECT_EQ(Sha256Hex(bytes), c.expected_digest) << "resource " << c.id;
    digests.insert(c.expected_digest);
  }
  EXPECT_EQ(digests.size(), std::size(cases)) << "two payload files have the same content";
  EXPECT_TRUE(ResourceBytes(module.get(), MAKEINTRESOURCEW(100), RT_RCDATA).empty());
  EXPECT_TRUE(ResourceBytes(module.get(), MAKEINTRESOURCEW(109), RT_RCDATA).empty());
}

struct TextResourceCase {
  const wchar_t* name;
  const char* must_contain;
};

TEST(LauncherImageTest, LicenceTextsAreWhatTheyClaim) {
  UniqueDataModule module = LoadLauncherAsData();
  ASSERT_TRUE(module.valid());
  const TextResourceCase cases[] = {
      {L"VEXO_UPDATE_NLOHMANN_LICENSE", "Permission is hereby granted, free of charge"},
      {L"VEXO_UPDATE_NLOHMANN_LICENSE", "Niels Lohmann"},
      {MAKEINTRESOURCEW(106), "SIL OPEN FONT LICENSE"},
      {MAKEINTRESOURCEW(107), "OFL.txt"},
      {MAKEINTRESOURCEW(108), "Apache License"},
  };
  for (const TextResourceCase& c : cases) {
    const std::string_view text = ResourceBytes(module.get(), c.name, RT_RCDATA);
    EXPECT_NE(text.find(c.must_contain), std::string_view::npos) << c.must_contain;
  }
  // The first font must really be a TrueType font, the Host a Windows program.
  EXPECT_EQ(ResourceBytes(module.get(), MAKEINTRESOURCEW(103), RT_RCDATA).substr(0, 4),
            std::string_view("\0\1\0\0", 4));
  EXPECT_EQ(ResourceBytes(module.get(), MAKEINTRESOURCEW(101), RT_RCDATA).substr(0, 2), "MZ");
}

}  // namespace
}  // namespace vexo
