#include "tests/support/resource_patcher.h"

#include <cstring>

#include "tests/support/support_error.h"
#include "tests/support/support_handles.h"

namespace vexo::test {
namespace {

// A module mapped as data only (no code runs, no imports resolve).
class DataModule {
 public:
  explicit DataModule(const std::wstring& file)
      : module_(::LoadLibraryExW(file.c_str(),
                                 nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    if (!module_) {
      ThrowSupportError("cannot map " + ToUtf8(file) + " for its resources", ::GetLastError());
    }
  }
  HMODULE get() const { return module_.get(); }

 private:
  UniqueModule module_;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
  return TRUE;
}

std::vector<WORD> ResourceLanguages(HMODULE module, LPCWSTR type, std::uint16_t id) {
  std::vector<WORD> languages;
  ::EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(id), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

std::vector<std::uint8_t> ResourceBytes(HMODULE module,
                                        LPCWSTR type,
                                        std::uint16_t id,
                                        WORD language) {
  const HRSRC info = ::FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
  if (info == nullptr) {
    ThrowSupportError("resource " + std::to_string(id) + " not found", ::GetLastError());
  }
  const DWORD size = ::SizeofResource(module, info);
  const HGLOBAL loaded = ::LoadResource(module, info);
  const void* data = loaded == nullptr ? nullptr : ::LockResource(loaded);
  if (data == nullptr) {
    ThrowSupportError("cannot load resource " + std::to_string(id), ::GetLastError());
  }
  std::vector<std::uint8_t> bytes(size);
  std::memcpy(bytes.data(), data, size);
  return bytes;
}

struct LanguageBytes {
  WORD language;
  std::vector<std::uint8_t> bytes;
};

// Replaces the bytes of the given languages of resource `id` in `file`. Either all of them land
// or none.
void ReplaceResources(const std::wstring& file,
                      LPCWSTR type,
                      std::uint16_t id,
                      const std::vector<LanguageBytes>& updates) {
  UniqueResourceUpdate update(::BeginUpdateResourceW(file.c_str(), FALSE));
  if (!update) {
    ThrowSupportError("cannot open " + ToUtf8(file) + " for resource updates", ::GetLastError());
  }
  for (const auto& entry : updates) {
    void* data = const_cast<std::uint8_t*>(entry.bytes.data());
    const DWORD size = static_cast<DWORD>(entry.bytes.size());
    if (!::UpdateResourceW(update.get(), type, MAKEINTRESOURCEW(id), entry.language, data, size)) {
      ThrowSupportError("cannot update resource " + std::to_string(id), ::GetLastError());
    }
  }
  if (!::EndUpdateResourceW(update.release(), FALSE)) {
    ThrowSupportError("cannot write the resources of " + ToUtf8(file), ::GetLastError());
  }
}

// A resource type or name: an integer id or a string.
struct ResourceName {
  bool is_id = true;
  WORD id = 0;
  std::wstring text;

  static ResourceName From(LPCWSTR name) {
    if (IS_INTRESOURCE(name)) {
      return {true, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)), {}};
    }
    return {false, 0, name};
  }
  LPCWSTR get() const { return is_id ? MAKEINTRESOURCEW(id) : text.c_str(); }
};

struct StoredResource {
  ResourceName type;
  ResourceName name;
  WORD language = 0;
  std::vector<std::uint8_t> bytes;
};

struct ResourceWalk {
  HMODULE module = nullptr;
  ResourceName type;
  ResourceName name;
  std::vector<StoredResource>* out = nullptr;
};

BOOL CALLBACK StoreLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
  auto& walk = *reinterpret_cast<ResourceWalk*>(context);
  const HRSRC info = ::FindResourceExW(walk.module, walk.type.get(), walk.name.get(), language);
  const HGLOBAL loaded = info == nullptr ? nullptr : ::LoadResource(walk.module, info);
  const auto* data =
      static_cast<const std::uint8_t*>(loaded == nullptr ? nullptr : ::LockResource(loaded));
  if (data == nullptr) {
    ThrowSupportError("cannot read a resource while rewriting", ::GetLastError());
  }
  walk.out->push_back(
      {walk.type, walk.name, language, {data, data + ::SizeofResource(walk.module, info)}});
  return TRUE;
}

BOOL CALLBACK StoreName(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR context) {
  auto& walk = *reinterpret_cast<ResourceWalk*>(context);
  walk.name = ResourceName::From(name);
  ::EnumResourceLanguagesW(module, walk.type.get(), walk.name.get(), StoreLanguage, context);
  return TRUE;
}

BOOL CALLBACK StoreType(HMODULE module, LPWSTR type, LONG_PTR context) {
  auto& walk = *reinterpret_cast<ResourceWalk*>(context);
  walk.type = ResourceName::From(type);
  ::EnumResourceNamesW(module, walk.type.get(), StoreName, context);
  return TRUE;
}

// Every resource of `file`, with its bytes.
std::vector<StoredResource> ReadAllResources(const std::wstring& file) {
  const DataModule module(file);
  std::vector<StoredResource> resources;
  ResourceWalk walk{module.get(), {}, {}, &resources};
  ::EnumResourceTypesW(module.get(), StoreType, reinterpret_cast<LONG_PTR>(&walk));
  return resources;
}

bool IsResource(const StoredResource& resource, LPCWSTR type, std::uint16_t id) {
  const ResourceName wanted = ResourceName::From(type);
  return resource.type.is_id == wanted.is_id && resource.type.id == wanted.id &&
         resource.type.text == wanted.text && resource.name.is_id && resource.name.id == id;
}

}  // namespace

void CopyFileFresh(const std::wstring& source, const std::wstring& destination) {
  if (!::CopyFileW(source.c_str(), destination.c_str(), TRUE)) {
    ThrowSupportError("cannot copy " + ToUtf8(source) + " to " + ToUtf8(destination),
                      ::GetLastError());
  }
}

std::vector<std::uint8_t> ReadResource(const std::wstring& file, LPCWSTR type, std::uint16_t id) {
  const DataModule module(file);
  const std::vector<WORD> languages = ResourceLanguages(module.get(), type, id);
  if (languages.empty()) {
    ThrowSupportError("resource " + std::to_string(id) + " not found in " + ToUtf8(file),
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  return ResourceBytes(module.get(), type, id, languages.front());
}

bool HasResource(const std::wstring& file, LPCWSTR type, std::uint16_t id) {
  const DataModule module(file);
  return !ResourceLanguages(module.get(), type, id).empty();
}

void RemoveResource(const std::wstring& file, LPCWSTR type, std::uint16_t id) {
  // Wine 8 reads a file's existing resources only when the update is written, so a removal
  // queued with UpdateResourceW(null data) finds nothing to remove and the resource survives.
  // Rewriting the whole resource section from a snapshot without the one resource removes it
  // on Wine and on Windows alike.
  std::vector<StoredResource> resources = ReadAllResources(file);
  const auto removed = std::erase_if(
      resources, [&](const StoredResource& resource) { return IsResource(resource, type, id); });
  if (removed == 0) {
    ThrowSupportError("resource " + std::to_string(id) + " not found in " + ToUtf8(file),
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  UniqueResourceUpdate update(::BeginUpdateResourceW(file.c_str(), TRUE));
  if (!update) {
    ThrowSupportError("cannot open " + ToUtf8(file) + " for resource updates", ::GetLastError());
  }
  for (auto& resource : resources) {
    if (!::UpdateResourceW(update.get(), resource.type.get(), resource.name.get(),
                           resource.language, resource.bytes.data(),
                           static_cast<DWORD>(resource.bytes.size()))) {
      ThrowSupportError("cannot write back a resource", ::GetLastError());
    }
  }
  if (!::EndUpdateResourceW(update.release(), FALSE)) {
    ThrowSupportError("cannot write the resources of " + ToUtf8(file), ::GetLastError());
  }
}

void FlipResourceByte(const std::wstring& file, std::uint16_t id, std::uint32_t offset) {
  std::vector<LanguageBytes> updates;
  {
    const DataModule module(file);
    for (const WORD language : ResourceLanguages(module.get(), RT_RCDATA, id)) {
      updates.push_back({language, ResourceBytes(module.get(), RT_RCDATA, id, language)});
    }
  }
  if (updates.empty()) {
    ThrowSupportError("resource " + std::to_string(id) + " not found in " + ToUtf8(file),
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  for (auto& entry : updates) {
    if (offset >= entry.bytes.size()) {
      ThrowSupportError("offset " + std::to_string(offset) + " is beyond resource " +
                            std::to_string(id) + " (" + std::to_string(entry.bytes.size()) +
                            " bytes)",
                        0);
    }
    entry.bytes[offset] = static_cast<std::uint8_t>(~entry.bytes[offset]);
  }
  ReplaceResources(file, RT_RCDATA, id, updates);
}

}  // namespace vexo::test
