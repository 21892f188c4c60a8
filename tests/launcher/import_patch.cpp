#include "tests/launcher/import_patch.h"

#include <cstring>

namespace vexo::test {
namespace {

template <typename T>
T* At(BYTE* base, DWORD offset) {
  return reinterpret_cast<T*>(base + offset);
}

// The import address table slot of `function_name` in the main program, or null.
void** FindImportSlot(const char* function_name) {
  auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = At<IMAGE_NT_HEADERS64>(base, static_cast<DWORD>(dos->e_lfanew));
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) {
    return nullptr;
  }
  for (auto* descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    auto* names = At<IMAGE_THUNK_DATA64>(base, descriptor->OriginalFirstThunk);
    auto* slots = At<IMAGE_THUNK_DATA64>(base, descriptor->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) {
        continue;
      }
      const auto* by_name =
          At<IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(names->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function_name) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

ImportPatch::ImportPatch(const char* function_name, void* replacement)
    : slot_(FindImportSlot(function_name)) {
  if (slot_ != nullptr) {
    original_ = *slot_;
    Write(replacement);
  }
}

ImportPatch::~ImportPatch() {
  if (slot_ != nullptr) {
    Write(original_);
  }
}

void ImportPatch::Write(void* value) {
  DWORD old_protection = 0;
  ::VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old_protection);
  *slot_ = value;
  ::VirtualProtect(slot_, sizeof(void*), old_protection, &old_protection);
}

}  // namespace vexo::test
