// The session locks on real named mutexes of this Wine session, where the end-to-end tests
// cannot reach: a name taken by another kind of object, and a session the launcher must not
// run in. One holder per kind, its release and a refusal that brings a running Host forward
// are shown end to end (tests/e2e/session_elevation_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "common/error_codes.h"
#include "launcher/messages.h"
#include "launcher/session_lock.h"
#include "tests/common/catch_failure.h"

namespace vexo {
namespace {

std::uint32_t CurrentSessionId() {
  DWORD session_id = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session_id);
  return session_id;
}

TEST(AcquireSessionLockTest, NameTakenByAnotherKindOfObjectFails) {
  const UniqueHandle squatter(
      ::CreateEventW(nullptr, TRUE, FALSE,
                     SessionLockName(CurrentSessionId(), SessionLockKind::kLauncher).c_str()));
  SessionLock lock;
  EXPECT_EQ(RefusalOf([&] { lock = AcquireSessionLock(SessionLockKind::kLauncher); }),
            Refusal(ERROR_INVALID_HANDLE, message::kDuplicateStateUnknown));
}

// The import slot of `function` in this test program, which the launcher's code linked into it
// calls through; null when there is none.
void** ImportSlot(const char* function) {
  auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
       imports != 0 && dll->Name != 0; ++dll) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + dll->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      const auto* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (!IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal) && std::strcmp(name->Name, function) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

// Writes `value` into an import slot and returns what was there.
void* ReplaceImport(void** slot, void* value) {
  DWORD protection = 0;
  ::VirtualProtect(slot, sizeof value, PAGE_READWRITE, &protection);
  void* const previous = std::exchange(*slot, value);
  ::VirtualProtect(slot, sizeof value, protection, &protection);
  return previous;
}

BOOL WINAPI ReportSessionZero(DWORD, DWORD* session_id) {
  *session_id = 0;
  return TRUE;
}

BOOL WINAPI FailSessionQuery(DWORD, DWORD*) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// ProcessIdToSessionId is made to report what Wine never does: the services' session 0, or a
// failure. Either is refused before any mutex is made.
TEST(AcquireSessionLockTest, ServicesSessionAndFailedQueryAreRefusedBeforeAnyMutex) {
  const std::uint32_t real_session = CurrentSessionId();
  void** const slot = ImportSlot("ProcessIdToSessionId");
  ASSERT_NE(slot, nullptr);
  for (auto* replacement : {&ReportSessionZero, &FailSessionQuery}) {
    for (SessionLockKind kind : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
      SessionLock lock;
      void* const original = ReplaceImport(slot, reinterpret_cast<void*>(replacement));
      const std::wstring refusal = RefusalOf([&] { lock = AcquireSessionLock(kind); });
      ReplaceImport(slot, original);
      EXPECT_EQ(refusal, Refusal(error::kAccessDenied, message::kSessionUnknown));
      for (std::uint32_t session : {0u, real_session}) {
        EXPECT_FALSE(
            UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(session, kind).c_str()))
                .valid());
      }
    }
  }
}

}  // namespace
}  // namespace vexo
