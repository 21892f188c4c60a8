// Test flavour only: the store of recorded security descriptors that stands in for the file
// system's own under Wine, which forgets every descriptor it is given.
//
// A record is the self-relative descriptor of one object, kept as a file named after the
// object's identity (volume serial number and file index) in the store folder: the folder
// named by VEXO_EMULATED_SECURITY_STORE, or kDefaultEmulatedSecurityStore.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace vexo::emulated_security {

inline constexpr wchar_t kStoreVariable[] = L"VEXO_EMULATED_SECURITY_STORE";
inline constexpr wchar_t kDefaultStore[] = L"C:\\ProgramData\\Vexo Emulated File Security";

// Records `descriptor` for the object open as `object` (any access that reads attributes).
// Throws std::runtime_error when the store cannot be written.
void RecordDescriptor(HANDLE object, PSECURITY_DESCRIPTOR descriptor);

// The recorded descriptor of `object`, LocalAlloc'd, or no value when none is recorded.
UniqueLocalMemory FindRecordedDescriptor(HANDLE object);

// Forgets the record of `object`, if any.
void DropRecord(HANDLE object);

}  // namespace vexo::emulated_security
