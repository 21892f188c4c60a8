// Handle identity, read pins and PathExists on real files and folders under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string>

#include "common/error_codes.h"
#include "common/failure.h"
#include "common/handles.h"
#include "fs/file_identity.h"
#include "fs/file_pin.h"
#include "fs/messages.h"
#include "fs/protected_folder.h"
#include "payload/payload_file.h"
#include "tests/common/scratch_folder.h"
#include "tests/security_tool/tool_runner.h"

namespace vexo {
namespace {

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towupper(c));
  }
  return text;
}

void WriteFileBytes(const std::wstring& path, const char* text) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr));
}

UniqueHandle OpenAny(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(
      path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Layout of every case: folder "dir" and file "file.txt" in a scratch folder; "file.txt"
// gets a second hard link "link.txt" when asked.
struct IdentityCase {
  const char* name;
  const wchar_t* opened;    // relative name that is opened
  const wchar_t* expected;  // relative name that is expected
  bool upper_case_expected;
  bool folder_expected;
  bool second_link;
  bool accepted;
};

TEST(CheckHandleIdentityTest, Cases) {
  const IdentityCase cases[] = {
      {"file as file", L"file.txt", L"file.txt", false, false, false, true},
      {"folder as folder", L"dir", L"dir", false, true, false, true},
      {"letter case differs", L"file.txt", L"file.txt", true, false, false, true},
      {"folder letter case differs", L"dir", L"dir", true, true, false, true},
      {"file where folder expected", L"file.txt", L"file.txt", false, true, false, false},
      {"folder where file expected", L"dir", L"dir", false, false, false, false},
      {"second hard link", L"file.txt", L"file.txt", false, false, true, false},
      {"other final path", L"file.txt", L"other.txt", false, false, false, false},
      {"expected path is the parent", L"dir", L".", false, true, false, false},
  };
  for (const IdentityCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder scratch;
    ASSERT_TRUE(::CreateDirectoryW(scratch.Join(L"dir").c_str(), nullptr));
    WriteFileBytes(scratch.Join(L"file.txt"), "payload");
    if (c.second_link) {
      ASSERT_TRUE(::CreateHardLinkW(scratch.Join(L"link.txt").c_str(),
                                    scratch.Join(L"file.txt").c_str(), nullptr));
    }
    UniqueHandle handle = OpenAny(scratch.Join(c.opened));
    ASSERT_TRUE(handle);
    std::wstring expected =
        std::wstring(c.expected) == L"." ? scratch.path() : scratch.Join(c.expected);
    if (c.upper_case_expected) {
      expected = Upper(expected);
    }
    try {
      CheckHandleIdentity(handle.get(), expected,
                          c.folder_expected ? ObjectKind::kFolder : ObjectKind::kFile);
      EXPECT_TRUE(c.accepted) << "accepted";
    } catch (const Failure& failure) {
      EXPECT_FALSE(c.accepted) << "refused";
      EXPECT_EQ(failure.code, error::kAccessDenied);
      EXPECT_EQ(failure.message, message::kLinkedOrChangedPath);
    }
  }
}

TEST(GetFinalPathTest, DropsTheNamespacePrefixAndKeepsTheDiskCase) {
  ScratchFolder scratch;
  WriteFileBytes(scratch.Join(L"Mixed.TXT"), "x");
  UniqueHandle handle = OpenAny(Upper(scratch.Join(L"Mixed.TXT")));
  ASSERT_TRUE(handle);
  EXPECT_EQ(GetFinalPath(handle.get()), scratch.Join(L"Mixed.TXT"));
}

TEST(PinFileForReadingTest, RefusesMissingFilesFoldersAndHardLinks) {
  ScratchFolder scratch;
  WriteFileBytes(scratch.Join(L"file.txt"), "payload");
  ASSERT_TRUE(::CreateHardLinkW(scratch.Join(L"link.txt").c_str(),
                                scratch.Join(L"file.txt").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(scratch.Join(L"dir").c_str(), nullptr));
  struct PinCase {
    const wchar_t* name;
    std::uint32_t code;
    const wchar_t* message;
  };
  const PinCase cases[] = {
      {L"missing.txt", ERROR_FILE_NOT_FOUND, message::kFileNotPinned},
      {L"file.txt", error::kAccessDenied, message::kLinkedOrChangedPath},
      // A folder cannot even be opened as a file (no backup semantics).
      {L"dir", error::kAccessDenied, message::kFileNotPinned},
  };
  for (const PinCase& c : cases) {
    try {
      PinFileForReading(scratch.Join(c.name), PinSecurity::kIdentityOnly);
      ADD_FAILURE() << "pinned " << testing::PrintToString(std::wstring(c.name));
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.code, c.code);
      EXPECT_EQ(failure.message, c.message);
    }
  }
}

// A pinned file can be read by others but not written, renamed or deleted.
TEST(PinFileForReadingTest, OtherProcessesCannotWriteOrDelete) {
  ScratchFolder scratch;
  const std::wstring path = scratch.Join(L"file.txt");
  WriteFileBytes(path, "payload");
  {
    UniqueHandle pin = PinFileForReading(path, PinSecurity::kIdentityOnly);
    ASSERT_TRUE(pin);
    EXPECT_EQ(RunSecurityTool(L"try-write " + Quoted(path)), ERROR_SHARING_VIOLATION);
    EXPECT_NE(RunSecurityTool(L"try-delete " + Quoted(path)), 0u);
    EXPECT_TRUE(PathExists(path));
  }
  EXPECT_EQ(RunSecurityTool(L"try-write " + Quoted(path)), 0u);
}

TEST(PathExistsTest, Cases) {
  ScratchFolder scratch;
  WriteFileBytes(scratch.Join(L"file.txt"), "x");
  EXPECT_TRUE(PathExists(scratch.Join(L"file.txt")));
  EXPECT_TRUE(PathExists(scratch.path()));
  EXPECT_FALSE(PathExists(scratch.Join(L"missing.txt")));
  EXPECT_FALSE(PathExists(scratch.Join(L"missing\\file.txt")));
  try {
    PathExists(scratch.Join(L"bad<name>.txt"));
    ADD_FAILURE() << "an unreadable name was answered";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message, message::kCleanupTargetUnknown);
    EXPECT_NE(failure.code, 0u);
  }
}

}  // namespace
}  // namespace vexo
