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
#include "fs/file_identity.h"

namespace vexo::emulated_security {

inline constexpr wchar_t kStoreVariable[] = L"VEXO_EMULATED_SECURITY_STORE";
inline constexpr wchar_t kDefaultStore[] = L"C:\\ProgramData\\Vexo Emulated File Security";

// Records `descriptor` for the object open as `object` (any access that reads attributes),
// byte for byte. Throws std::runtime_error when the store cannot be written.
void RecordDescriptor(HANDLE object, PSECURITY_DESCRIPTOR descriptor);

// The descriptor Windows stores for a new object of `kind` that was given `descriptor` at
// creation: the generic rights of every entry mapped to file rights, except that on a folder an
// entry that is both effective and inheritable and holds generic rights becomes two, the
// effective entry with the mapped rights and an inherit-only entry that keeps the generic
// rights for children. Entries already inherit-only keep their generic rights. LocalAlloc'd,
// self-relative. Throws std::runtime_error on a descriptor it cannot read.
UniqueLocalMemory StoredForm(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind);

// The recorded descriptor of `object`, LocalAlloc'd, or no value when none is recorded.
UniqueLocalMemory FindRecordedDescriptor(HANDLE object);

// Forgets the record of `object`, if any.
void DropRecord(HANDLE object);

}  // namespace vexo::emulated_security
