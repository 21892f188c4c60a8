// Scratch folders and resource damage for the bench (see wine_driver.h).
#include "tools/wine-bench/wine_driver.h"

#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(VEXO_EMULATED_FILE_SECURITY)
#include "fs/emulated_security_store.h"
#endif

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

  explicit ResourceName(LPCWSTR name)
      : text(IS_INTRESOURCE(name) ? L"" : name), id(IS_INTRESOURCE(name) ? LOWORD(name) : 0) {}
  LPCWSTR get() const { return text.empty() ? MAKEINTRESOURCEW(id) : text.c_str(); }
  bool operator==(const ResourceName&) const = default;
};

struct StoredResource {
  ResourceName type;
  ResourceName name;
  WORD language = 0;
  std::vector<std::uint8_t> bytes;
};

using StoredResources = std::vector<StoredResource>;

BOOL CALLBACK
StoreLanguage(HMODULE file, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR found) {
  const HRSRC info = ::FindResourceExW(file, type, name, language);
  const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(file, info)));
  if (bytes == nullptr) {
    return FALSE;  // the enumeration fails, and with it the read
  }
  reinterpret_cast<StoredResources*>(found)->push_back(
      {ResourceName(type),
       ResourceName(name),
       language,
       {bytes, bytes + ::SizeofResource(file, info)}});
  return TRUE;
}

BOOL CALLBACK StoreName(HMODULE file, LPCWSTR type, LPWSTR name, LONG_PTR found) {
  return ::EnumResourceLanguagesW(file, type, name, StoreLanguage, found);
}

BOOL CALLBACK StoreType(HMODULE file, LPWSTR type, LONG_PTR found) {
  return ::EnumResourceNamesW(file, type, StoreName, found);
}

// Every resource of `file`, every language, read from a data-file mapping: no code of the file
// runs.
StoredResources ReadResources(const std::wstring& file) {
  const UniqueModule module(::LoadLibraryExW(
      file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  StoredResources found;
  if (!module ||
      !::EnumResourceTypesW(module.get(), StoreType, reinterpret_cast<LONG_PTR>(&found))) {
    ThrowSupportError("cannot read the resources of " + ToUtf8(file), ::GetLastError());
  }
  return found;
}

// Changes every language of resource `id` of `type` with `edit` (which returns false to drop
// it), then writes the whole resource section anew from the snapshot. Wine 8 reads a file's
// existing resources only when the update is written, so a removal queued with
// UpdateResourceW(null data) finds nothing and the resource survives; rewriting everything
// works on Wine and Windows alike.
void EditResource(const std::wstring& file,
                  LPCWSTR type,
                  std::uint16_t id,
                  const std::function<bool(std::vector<std::uint8_t>&)>& edit) {
  StoredResources resources = ReadResources(file);
  const auto matches = [&](const StoredResource& resource) {
    return resource.type == ResourceName(type) &&
           resource.name == ResourceName(MAKEINTRESOURCEW(id));
  };
  if (std::none_of(resources.begin(), resources.end(), matches)) {
    ThrowSupportError("resource " + std::to_string(id) + " of " + ToUtf8(file) + " not found",
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  std::erase_if(resources, [&](StoredResource& resource) {
    return matches(resource) && !edit(resource.bytes);
  });
  // Dropping the update discards it; only a complete one is written.
  UniqueResourceUpdate update(::BeginUpdateResourceW(file.c_str(), TRUE));
  bool written = update.valid();
  for (auto& resource : resources) {
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
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    for (const std::wstring& name : FolderEntries(path)) {
      const std::wstring entry = path + L"\\" + name;
      removed_all = RemoveEntry(entry, ::GetFileAttributesW(entry.c_str())) && removed_all;
    }
  }
  return ::RemoveDirectoryW(path.c_str()) != FALSE && removed_all;
}

}  // namespace

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  const UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &entry) != FALSE) {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") {
      names.push_back(name);
    }
  }
  return names;
}

void RemoveTree(const std::wstring& path) {
  RemoveEntry(path, ::GetFileAttributesW(path.c_str()));
}

#if defined(VEXO_EMULATED_FILE_SECURITY) || defined(VEXO_WINDOWS_RUNNER)
void RecordSecurity(const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &converted,
                                                              nullptr)) {
    ThrowSupportError("not a descriptor: " + ToUtf8(sddl), ::GetLastError());
  }
  const UniqueLocalMemory descriptor(converted);
#if defined(VEXO_WINDOWS_RUNNER)
  // Windows keeps it as given, the DACL's protection included.
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (!::SetFileSecurityW(path.c_str(), kParts, descriptor.get())) {
    ThrowSupportError("cannot set the descriptor of " + ToUtf8(path), ::GetLastError());
  }
#else
  const UniqueHandle object(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!object) {
    ThrowSupportError("cannot open " + ToUtf8(path), ::GetLastError());
  }
  emulated_security::RecordDescriptor(object.get(), descriptor.get());
#endif
}
#endif

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
  if (!::CopyFileW(source.c_str(), Join(name).c_str(), TRUE)) {
    ThrowSupportError("cannot copy " + ToUtf8(source) + " into " + ToUtf8(path_), ::GetLastError());
  }
  return Join(name);
}

std::string FileBytes(const std::wstring& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(std::filesystem::path(path), std::ios::binary).rdbuf();
  return bytes.str();
}

}  // namespace vexo::test
