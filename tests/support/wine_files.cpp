// Scratch folders and resource damage for the bench (see wine_driver.h).
#include "tests/support/wine_driver.h"

namespace vexo::test {
namespace {

constexpr wchar_t kScratchRoot[] = L"C:\\vexo-tests";

// A pending resource update; dropping it discards the changes.
void DiscardResourceUpdate(HANDLE update) noexcept {
  ::EndUpdateResourceW(update, TRUE);
}
using UniqueResourceUpdate = UniqueResource<NullableTraits<HANDLE, &DiscardResourceUpdate>>;

// A resource type or name, an integer id or a string, kept past the enumeration.
struct ResourceName {
  std::wstring text;  // empty for an id
  WORD id = 0;

  explicit ResourceName(LPCWSTR name = nullptr)
      : text(IS_INTRESOURCE(name) ? L"" : name),
        id(IS_INTRESOURCE(name) ? static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)) : 0) {}
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
  StoredResource current;
  std::vector<StoredResource> found;
};

BOOL CALLBACK
StoreLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR walk) {
  const HRSRC info = ::FindResourceExW(module, type, name, language);
  const auto* data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(module, info)));
  if (data == nullptr) {
    ThrowSupportError("cannot read a resource", ::GetLastError());
  }
  auto& current = reinterpret_cast<ResourceWalk*>(walk)->current;
  current.language = language;
  current.bytes.assign(data, data + ::SizeofResource(module, info));
  reinterpret_cast<ResourceWalk*>(walk)->found.push_back(current);
  return TRUE;
}

BOOL CALLBACK StoreName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR walk) {
  reinterpret_cast<ResourceWalk*>(walk)->current.name = ResourceName(name);
  ::EnumResourceLanguagesW(module, type, name, StoreLanguage, walk);
  return TRUE;
}

BOOL CALLBACK StoreType(HMODULE module, LPWSTR type, LONG_PTR walk) {
  reinterpret_cast<ResourceWalk*>(walk)->current.type = ResourceName(type);
  ::EnumResourceNamesW(module, type, StoreName, walk);
  return TRUE;
}

// Changes every language of resource `id` of `type` with `edit` (which returns false to drop
// it), then writes the whole resource section anew from a snapshot. Wine 8 reads a file's
// existing resources only when the update is written, so a removal queued with
// UpdateResourceW(null data) finds nothing and the resource survives; rewriting everything
// works on Wine and Windows alike.
void EditResource(const std::wstring& file,
                  LPCWSTR type,
                  std::uint16_t id,
                  const std::function<bool(std::vector<std::uint8_t>&)>& edit) {
  ResourceWalk walk;
  {
    // Mapped as data: no code of the file runs.
    const UniqueModule module(::LoadLibraryExW(
        file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ::EnumResourceTypesW(module.get(), StoreType, reinterpret_cast<LONG_PTR>(&walk));
  }
  const std::size_t before = walk.found.size();
  std::size_t matched = 0;
  std::erase_if(walk.found, [&](StoredResource& resource) {
    const bool match =
        resource.type == ResourceName(type) && resource.name == ResourceName(MAKEINTRESOURCEW(id));
    matched += match ? 1 : 0;
    return match && !edit(resource.bytes);
  });
  if (matched == 0) {
    ThrowSupportError("resource " + std::to_string(id) + " of " + ToUtf8(file) + " not found (of " +
                          std::to_string(before) + ")",
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  // Dropping the update discards it; only a complete one is written.
  UniqueResourceUpdate update(::BeginUpdateResourceW(file.c_str(), TRUE));
  bool written = update.valid();
  for (auto& resource : walk.found) {
    written = written && ::UpdateResourceW(update.get(), resource.type.get(), resource.name.get(),
                                           resource.language, resource.bytes.data(),
                                           static_cast<DWORD>(resource.bytes.size()));
  }
  if (!written || !::EndUpdateResourceW(update.release(), FALSE)) {
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

void RemoveResource(const std::wstring& file, LPCWSTR type, std::uint16_t id) {
  EditResource(file, type, id, [](std::vector<std::uint8_t>&) { return false; });
}

void FlipResourceByte(const std::wstring& file, std::uint16_t id, std::uint32_t offset) {
  EditResource(file, RT_RCDATA, id, [&](std::vector<std::uint8_t>& bytes) {
    const std::size_t at = offset == kLastByte ? bytes.size() - 1 : offset;
    if (at >= bytes.size()) {
      ThrowSupportError("offset " + std::to_string(offset) + " is beyond the resource", 0);
    }
    bytes[at] = static_cast<std::uint8_t>(~bytes[at]);
    return true;
  });
}

ScratchFolder::ScratchFolder(const std::wstring& label) {
  static std::uint32_t created = 0;
  ::CreateDirectoryW(kScratchRoot, nullptr);
  path_ = std::wstring(kScratchRoot) + L"\\" + label + L"-" +
          std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) +
          L"-" + std::to_wstring(++created);
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
