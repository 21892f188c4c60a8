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

bool MutexExists(std::uint32_t session_id, SessionLockKind kind) {
  return UniqueHandle(::OpenMutexW(SYNCHRONIZE, FALSE, SessionLockName(session_id, kind).c_str()))
      .valid();
}

TEST(AcquireSessionLockTest, NameTakenByAnotherKindOfObjectFails) {
  const UniqueHandle squatter(
      ::CreateEventW(nullptr, TRUE, FALSE,
                     SessionLockName(CurrentSessionId(), SessionLockKind::kLauncher).c_str()));
  SessionLock lock;
  EXPECT_EQ(RefusalOf([&] { lock = AcquireSessionLock(SessionLockKind::kLauncher); }),
            Refusal(ERROR_INVALID_HANDLE, message::kDuplicateStateUnknown));
}

// Replaces, while it lives, the address this test program imports for one function, so
// ProcessIdToSessionId can report what Wine never does.
class ImportPatch {
 public:
  ImportPatch(const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
         imports != 0 && dll->Name != 0 && slot_ == nullptr; ++dll) {
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + dll->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + dll->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        const auto* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (!IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal) && std::strcmp(name->Name, function) == 0) {
          slot_ = reinterpret_cast<void**>(&slots->u1.Function);
        }
      }
    }
    original_ = slot_ != nullptr ? Write(replacement) : nullptr;
  }
  ~ImportPatch() {
    if (slot_ != nullptr) {
      Write(original_);
    }
  }
  bool applied() const { return slot_ != nullptr; }

 private:
  void* Write(void* value) {
    DWORD protection = 0;
    ::VirtualProtect(slot_, sizeof value, PAGE_READWRITE, &protection);
    void* const previous = std::exchange(*slot_, value);
    ::VirtualProtect(slot_, sizeof value, protection, &protection);
    return previous;
  }

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

BOOL WINAPI ReportSessionZero(DWORD, DWORD* session_id) {
  *session_id = 0;
  return TRUE;
}

BOOL WINAPI FailSessionQuery(DWORD, DWORD*) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(AcquireSessionLockTest, ServicesSessionAndFailedQueryAreRefusedBeforeAnyMutex) {
  const std::uint32_t real_session = CurrentSessionId();
  for (auto* replacement : {&ReportSessionZero, &FailSessionQuery}) {
    for (SessionLockKind kind : {SessionLockKind::kLauncher, SessionLockKind::kKeeper}) {
      SessionLock lock;
      std::wstring refusal;
      {
        const ImportPatch patch("ProcessIdToSessionId", reinterpret_cast<void*>(replacement));
        ASSERT_TRUE(patch.applied());
        refusal = RefusalOf([&] { lock = AcquireSessionLock(kind); });
      }
      EXPECT_EQ(refusal, Refusal(error::kAccessDenied, message::kSessionUnknown));
      EXPECT_FALSE(MutexExists(0, kind) || MutexExists(real_session, kind));
    }
  }
}

}  // namespace
}  // namespace vexo
