// The Wine test bench: one driver for the real launcher and its message boxes
// (docs/wine-test-bench.md).
//
//   - programs start with the test's full token or its linked, limited one, and no wait is
//     without a limit: a program that does not end in time is terminated and reported;
//   - the product's message boxes are found, read and answered. Their icon cannot be read from
//     another process under Wine, so vexo_box_hook.dll, installed as a global hook, records it
//     as a window property inside the process that shows the box;
//   - copies of executables are damaged on purpose, and each test gets a scratch folder on C:.
//
// Failures of the bench are SupportError, never the product's Failure, so a broken bench is
// never mistaken for a result of the product.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/handles.h"

namespace vexo::test {

class SupportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws SupportError with "what (Windows error N)"; 0 names no Windows error.
[[noreturn]] void ThrowSupportError(const std::string& what, std::uint32_t code);
std::string ToUtf8(std::wstring_view text);

// ---- Starting programs ----------------------------------------------------------------------

enum class TokenKind {
  kFull,     // the test process's own token (elevated under Wine)
  kLimited,  // the linked, unelevated token, as a customer's double-click has it
};

// Whether this process is an elevated administrator with a linked, limited token (its elevation
// type is "full"): only then can a program start with kLimited. User Account Control off, or the
// built-in Administrator, gives a token without one. Tests that need it skip with kNoLimitedToken.
bool LimitedTokenExists();
inline constexpr char kNoLimitedToken[] =
    "not run: this process has no linked limited token (User Account Control is off)";

struct ProgramStart {
  std::wstring program;  // full path of the executable
  std::vector<std::wstring> arguments{};
  TokenKind token = TokenKind::kFull;
  std::wstring working_directory{};       // empty: the test process's current folder
  const wchar_t* process_sddl = nullptr;  // the process's descriptor (full token); null: default
};

struct ProgramResult {
  std::uint32_t exit_code = 0;
  bool timed_out = false;  // did not end in time and was terminated (exit code 1460)
};

// One started process; destroying one that still runs terminates it.
class RunningProgram {
 public:
  RunningProgram(UniqueHandle process, std::uint32_t process_id)
      : process_(std::move(process)), process_id_(process_id) {}
  RunningProgram(RunningProgram&&) noexcept = default;
  ~RunningProgram();

  HANDLE handle() const noexcept { return process_.get(); }
  std::uint32_t id() const noexcept { return process_id_; }
  bool HasEnded() const;
  ProgramResult WaitOrTerminate(std::uint32_t timeout_ms);
  void Terminate();

 private:
  UniqueHandle process_;
  std::uint32_t process_id_ = 0;
};

// Arguments are quoted so that CommandLineToArgvW gives back exactly the same strings.
RunningProgram StartProgram(const ProgramStart& start);
// The processes running the file at `image` (by the path the process list gives), each with its
// id and opened to wait for, query and terminate.
std::vector<std::pair<std::uint32_t, UniqueHandle>> OpenProcessesRunning(const std::wstring& image);

// Runs `program` with `arguments` as LocalSystem in the services' session 0, through a task of
// the Task Scheduler that is deleted however this ends, and waits until the file `report` holds
// `done` or `timeout_ms` has passed; returns what the file then holds. Windows only: Wine runs
// every process in session 1.
std::string RunInServicesSession(const std::wstring& program,
                                 const std::vector<std::wstring>& arguments,
                                 const std::wstring& report,
                                 std::string_view done,
                                 std::uint32_t timeout_ms);
std::wstring CurrentProgramFolder();
// A file of the build tree by its path relative to the tree ("bin/Vexo-Host.exe"). Test
// programs lie in the tree's bin folder, so the tree is found wherever it lies: on drive Z:
// under Wine, wherever a Windows runner unpacked it.
std::wstring InBuildTree(std::wstring_view relative);

// Whether the tests run natively on a Windows runner, where a row that shows Wine's side of a
// gap expects Windows' side (docs/wine-gaps.md).
#if defined(VEXO_WINDOWS_RUNNER)
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

// The file at `path` by another spelling of its path, which a process started by it keeps as its
// image path: on Windows its 8.3 short path; under Wine, which resolves short paths, its Unix
// path on drive Z:.
std::wstring OtherSpellingOf(const std::wstring& path);

// ---- Message boxes --------------------------------------------------------------------------

// The caption of every message box the product shows.
inline constexpr wchar_t kProductBoxCaption[] = L"벡소링크 원격지원";
inline constexpr std::uint32_t kBoxPollIntervalMs = 20;

// What the hook records on a dialog: a ready mark once WM_INITDIALOG has returned, and the
// BoxIcon of its last STM_SETICON (never kNone, which a property cannot hold).
inline constexpr wchar_t kBoxReadyProperty[] = L"VexoTestBoxReady";
inline constexpr wchar_t kBoxIconProperty[] = L"VexoTestBoxIcon";
inline constexpr char kBoxHookProcName[] = "VexoBoxHookProc";
inline constexpr wchar_t kBoxHookDllName[] = L"vexo_box_hook.dll";
inline constexpr wchar_t kDialogClass[] = L"#32770";

enum class BoxIcon : std::uintptr_t {
  kNone,         // the hook saw the box set up without an icon
  kError,        // MB_ICONERROR
  kQuestion,     // MB_ICONQUESTION
  kWarning,      // MB_ICONWARNING
  kInformation,  // MB_ICONINFORMATION
  kOther,        // not a standard icon
  kUnobserved,   // the hook did not see the box: its icon is unknown, which no script accepts
};

struct ObservedBox {
  HWND window = nullptr;
  std::uint32_t process_id = 0;
  BoxIcon icon = BoxIcon::kUnobserved;
  std::wstring text;
  std::vector<int> buttons;  // ids of the visible buttons in control order (IDOK, IDYES, ...)
};

// One line: icon, button names and the text with escapes (UTF-8).
std::string DescribeBox(const ObservedBox& box);

// Installs the hook DLL (beside the running program) for the whole session, then finds every
// new product box of the session, reads it once it has been up `hold_ms` (as long as a person
// would look at it) and presses the button its answer function chooses. A box without that
// button is dismissed: Cancel, else No, else OK, else its first button, else WM_CLOSE. Presses
// are posted, so the test never blocks on a stuck program. Install it before starting the
// programs whose boxes it answers.
class BoxResponder {
 public:
  using Answer = std::function<int(const ObservedBox& box)>;
  explicit BoxResponder(Answer answer, std::uint32_t hold_ms = 0);

  void Poll();
  // Answers boxes, and serves the windows of the calling thread, until the program ends or the
  // limit passes (then it is terminated). `each_look` runs after every look at the boxes.
  ProgramResult WaitForExit(RunningProgram& program,
                            std::uint32_t timeout_ms,
                            const std::function<void()>& each_look = {});

 private:
  UniqueModule module_;
  UniqueResource<NullableTraits<HHOOK, &::UnhookWindowsHookEx>> hook_;
  Answer answer_;
  std::uint32_t hold_ms_;
  std::map<HWND, std::uint64_t> first_seen_;  // boxes up: tick of first sight, or answered
};

struct ExpectedBox {
  BoxIcon icon = BoxIcon::kNone;
  std::wstring text;         // exact, line feeds included
  std::vector<int> buttons;  // ids in control order
  int press = IDOK;          // one of `buttons`
};

class BoxScript {
 public:
  BoxScript& Expect(ExpectedBox box);  // throws when `press` is not one of `buttons`
  BoxScript& ExpectOk(BoxIcon icon, std::wstring text);
  BoxScript& ExpectYesNo(BoxIcon icon, std::wstring text, int press);
  const std::vector<ExpectedBox>& boxes() const { return boxes_; }

 private:
  std::vector<ExpectedBox> boxes_;
};

struct ScriptedRun {
  ProgramResult result;
  std::vector<ObservedBox> boxes;  // in the order they were answered
  // Every difference from the script: a box beyond it (answered so the program can end), a box
  // with another icon, text or buttons, an expected box that never came, a program that did not
  // end in time. An empty script allows no box at all.
  std::vector<std::string> violations;
};

// Called at every look while a scripted program runs: it may act on the program, and add to the
// script the boxes it now expects (a box whose text names something only the run knows).
using RunWatcher = std::function<void(RunningProgram& program, BoxScript& script)>;

[[nodiscard]] ScriptedRun RunWithBoxes(const ProgramStart& start,
                                       BoxScript script,
                                       std::uint32_t timeout_ms,
                                       const RunWatcher& watch = {});

// ---- Files ----------------------------------------------------------------------------------

// Removes resource `id` of `type`, every language of it.
void RemoveResource(const std::wstring& file, LPCWSTR type, std::uint16_t id);
// Inverts the byte at `offset` (or the last one) of RT_RCDATA resource `id`, every language.
inline constexpr std::uint32_t kLastByte = 0xFFFFFFFF;
void FlipResourceByte(const std::wstring& file, std::uint16_t id, std::uint32_t offset);

// The bytes of the file at `path`; none when it cannot be read.
std::string FileBytes(const std::wstring& path);

// The names in `folder`, without "." and ".."; none when it cannot be listed.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

// Removes what is at `path`, a folder with its contents; links are removed, never followed.
void RemoveTree(const std::wstring& path);

// TrustedInstaller's SID, and the descriptor Windows gives C:\Program Files: owned by
// TrustedInstaller, protected, with inherit-only entries for what gets created inside.
#define VEXO_TI_SID L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
inline constexpr wchar_t kProgramFilesSddl[] =
    L"O:" VEXO_TI_SID L"G:" VEXO_TI_SID L"D:PAI(A;;FA;;;" VEXO_TI_SID L")(A;CIIO;GA;;;" VEXO_TI_SID
    L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
    L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
    L"(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";

#if defined(VEXO_EMULATED_FILE_SECURITY) || defined(VEXO_WINDOWS_RUNNER)
// Gives the object at `path` the owner, group and DACL of `sddl`: in the emulated security store,
// as if Windows kept it (docs/emulated-file-security.md), or on Windows itself.
void RecordSecurity(const std::wstring& path, const wchar_t* sddl);
#endif

// C:\vexo-tests\<label>-<process>-<tick>-<count>, new for one test and removed with its contents
// (links are removed, never followed; read-only files too).
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& label = L"test");
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  const std::wstring& path() const { return path_; }
  std::wstring Join(const std::wstring& name) const { return path_ + L"\\" + name; }
  // Copies `source` in under `name` (never over a file); returns the new path.
  std::wstring CopyIn(const std::wstring& source, const std::wstring& name) const;

 private:
  std::wstring path_;
};

}  // namespace vexo::test
