// Scratch folders and resource damage for the bench (see wine_driver.h).
#include "tests/support/wine_driver.h"

#include "common/hex.h"

namespace vexo::test {
namespace {

constexpr wchar_t kScratchRoot[] = L"C:\\vexo-tests";
constexpr std::size_t kScratchRandomBytes = 8;

// A resource type or name: an integer id or a string, kept past the enumeration.
struct ResourceName {
  std::wstring text;  // empty for an id
  WORD id = 0;

  static ResourceName From(LPCWSTR name) {
    if (IS_INTRESOURCE(name)) {
      return {{}, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))};
    }
    return {name, 0};
  }
  LPCWSTR get() const { return text.empty() ? MAKEINTRESOURCEW(id) : text.c_str(); }
  bool operator==(const ResourceName&) const = default;
};

struct StoredResource {
  ResourceName type;
  ResourceName name;
  WORD language = 0;
  std::vector<std::uint8_t> bytes;
};

struct ResourceWalk {
  HMODULE module = nullptr;
  StoredResource current;
  std::vector<StoredResource> found;
};

BOOL CALLBACK StoreLanguage(HMODULE module, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  auto& walk = *reinterpret_cast<ResourceWalk*>(context);
  const HRSRC info =
      ::FindResourceExW(module, walk.current.type.get(), walk.current.name.get(), language);
  const HGLOBAL loaded = info == nullptr ? nullptr : ::LoadResource(module, info);
  const auto* data = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (data == nullptr) {
    ThrowSupportError("cannot read a resource", ::GetLastError());
  }
  walk.current.language = language;
  walk.current.bytes.assign(data, data + ::SizeofResource(module, info));
  walk.found.push_back(walk.current);
  return TRUE;
}

BOOL CALLBACK StoreName(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR context) {
  auto& walk = *reinterpret_cast<ResourceWalk*>(context);
  walk.current.name = ResourceName::From(name);
  ::EnumResourceLanguagesW(module, walk.current.type.get(), name, StoreLanguage, context);
  return TRUE;
}

BOOL CALLBACK StoreType(HMODULE module, LPWSTR type, LONG_PTR context) {
  reinterpret_cast<ResourceWalk*>(context)->current.type = ResourceName::From(type);
  ::EnumResourceNamesW(module, type, StoreName, context);
  return TRUE;
}

// Every resource of `file` with its bytes, read from a data-file mapping (no code runs).
std::vector<StoredResource> ReadAllResources(const std::wstring& file) {
  const UniqueModule module(::LoadLibraryExW(
      file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) {
    ThrowSupportError("cannot map " + ToUtf8(file) + " for its resources", ::GetLastError());
  }
  ResourceWalk walk;
  ::EnumResourceTypesW(module.get(), StoreType, reinterpret_cast<LONG_PTR>(&walk));
  return std::move(walk.found);
}

// Changes every language of resource `id` of `type` with `edit` (which may drop it), then
// writes the whole resource section anew. Wine 8 reads a file's existing resources only when
// the update is written, so a removal queued with UpdateResourceW(null data) finds nothing and
// the resource survives; rewriting everything from a snapshot works on Wine and Windows alike.
void EditResource(const std::wstring& file,
                  LPCWSTR type,
                  std::uint16_t id,
                  const std::function<bool(std::vector<std::uint8_t>&)>& edit) {
  std::vector<StoredResource> resources = ReadAllResources(file);
  const ResourceName wanted_type = ResourceName::From(type);
  const ResourceName wanted_name{{}, id};
  std::size_t matched = 0;
  std::erase_if(resources, [&](StoredResource& resource) {
    if (!(resource.type == wanted_type && resource.name == wanted_name)) {
      return false;
    }
    ++matched;
    return !edit(resource.bytes);
  });
  if (matched == 0) {
    ThrowSupportError("resource " + std::to_string(id) + " not found in " + ToUtf8(file),
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  const HANDLE update = ::BeginUpdateResourceW(file.c_str(), TRUE);
  bool written = update != nullptr;
  for (auto& resource : resources) {
    written = written &&
              ::UpdateResourceW(update, resource.type.get(), resource.name.get(), resource.language,
                                resource.bytes.data(), static_cast<DWORD>(resource.bytes.size()));
  }
  // Ending the update discards it when something failed, and writes it otherwise.
  if (update == nullptr || !::EndUpdateResourceW(update, written ? FALSE : TRUE) || !written) {
    ThrowSupportError("cannot write the resources of " + ToUtf8(file), ::GetLastError());
  }
}

// Removes what is at `path`, folders with their contents; links are removed, not entered.
bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return ::DeleteFileW(path.c_str()) != FALSE;
  }
  bool removed_all = true;
  WIN32_FIND_DATAW entry{};
  const UniqueFindHandle find(::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &entry,
                                                 FindExSearchNameMatch, nullptr, 0));
  for (bool more = find.valid() && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0; more;
       more = ::FindNextFileW(find.get(), &entry) != FALSE) {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") {
      removed_all = RemoveEntry(path + L"\\" + name, entry.dwFileAttributes) && removed_all;
    }
  }
  return ::RemoveDirectoryW(path.c_str()) != FALSE && removed_all;
}

}  // namespace

void CopyFileFresh(const std::wstring& source, const std::wstring& destination) {
  if (!::CopyFileW(source.c_str(), destination.c_str(), TRUE)) {
    ThrowSupportError("cannot copy " + ToUtf8(source) + " to " + ToUtf8(destination),
                      ::GetLastError());
  }
}

std::vector<std::uint8_t> ReadResource(const std::wstring& file, LPCWSTR type, std::uint16_t id) {
  for (auto& resource : ReadAllResources(file)) {
    if (resource.type == ResourceName::From(type) && resource.name == ResourceName{{}, id}) {
      return std::move(resource.bytes);
    }
  }
  ThrowSupportError("resource " + std::to_string(id) + " not found", ERROR_RESOURCE_NAME_NOT_FOUND);
}

void RemoveResource(const std::wstring& file, LPCWSTR type, std::uint16_t id) {
  EditResource(file, type, id, [](std::vector<std::uint8_t>&) { return false; });
}

void FlipResourceByte(const std::wstring& file, std::uint16_t id, std::uint32_t offset) {
  EditResource(file, RT_RCDATA, id, [&](std::vector<std::uint8_t>& bytes) {
    if (offset >= bytes.size()) {
      ThrowSupportError(
          "offset " + std::to_string(offset) + " is beyond resource " + std::to_string(id), 0);
    }
    bytes[offset] = static_cast<std::uint8_t>(~bytes[offset]);
    return true;
  });
}

ScratchFolder::ScratchFolder(const std::wstring& label) {
  std::vector<std::uint8_t> random(kScratchRandomBytes);
  ::CreateDirectoryW(kScratchRoot, nullptr);
  path_ = std::wstring(kScratchRoot) + L"\\" + label + L"-";
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random.data(), kScratchRandomBytes,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    ThrowSupportError("cannot make a random folder name", 0);
  }
  path_ += ToLowerHexWide(random);
  if (!::CreateDirectoryW(path_.c_str(), nullptr)) {
    ThrowSupportError("cannot create the scratch folder " + ToUtf8(path_), ::GetLastError());
  }
}

ScratchFolder::~ScratchFolder() {
  RemoveEntry(path_, ::GetFileAttributesW(path_.c_str()));
}

std::wstring ScratchFolder::CopyIn(const std::wstring& source, const std::wstring& name) const {
  CopyFileFresh(source, Join(name));
  return Join(name);
}

}  // namespace vexo::test
