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

// Applies updates to `file`: each entry replaces (bytes) or, with `remove`, deletes one
// language of resource `id`. Either all of them land or none.
void UpdateResources(const std::wstring& file,
                     LPCWSTR type,
                     std::uint16_t id,
                     const std::vector<LanguageBytes>& updates,
                     bool remove) {
  UniqueResourceUpdate update(::BeginUpdateResourceW(file.c_str(), FALSE));
  if (!update) {
    ThrowSupportError("cannot open " + ToUtf8(file) + " for resource updates", ::GetLastError());
  }
  for (const auto& entry : updates) {
    void* data = remove ? nullptr : const_cast<std::uint8_t*>(entry.bytes.data());
    const DWORD size = remove ? 0 : static_cast<DWORD>(entry.bytes.size());
    if (!::UpdateResourceW(update.get(), type, MAKEINTRESOURCEW(id), entry.language, data, size)) {
      ThrowSupportError("cannot update resource " + std::to_string(id), ::GetLastError());
    }
  }
  if (!::EndUpdateResourceW(update.release(), FALSE)) {
    ThrowSupportError("cannot write the resources of " + ToUtf8(file), ::GetLastError());
  }
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
  std::vector<LanguageBytes> updates;
  {
    // The mapping must be gone before the file is rewritten.
    const DataModule module(file);
    for (const WORD language : ResourceLanguages(module.get(), type, id)) {
      updates.push_back({language, {}});
    }
  }
  if (updates.empty()) {
    ThrowSupportError("resource " + std::to_string(id) + " not found in " + ToUtf8(file),
                      ERROR_RESOURCE_NAME_NOT_FOUND);
  }
  UpdateResources(file, type, id, updates, true);
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
  UpdateResources(file, RT_RCDATA, id, updates, false);
}

}  // namespace vexo::test
