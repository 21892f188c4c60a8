#include "tools/wine-bench/wine_driver.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>

#include "cleanup/host_detection.h"
#include "common/path.h"

namespace vexo::test {
namespace {

constexpr DWORD kTerminateWaitMs = 10000;
constexpr DWORD kSchtasksTimeoutMs = 60000;
constexpr DWORD kReportPollMs = 500;
constexpr wchar_t kServicesSessionTask[] = L"VexoTestServicesSession";
constexpr int kMaxWindowText = 8192;  // bounds what is read from a hostile window
constexpr int kBoxTextControlId = 0xFFFF;
constexpr std::uint64_t kAnswered = UINT64_MAX;  // in place of the tick a box was first seen

// Boxes whose thread has handled a message sent once the box was seen: its WM_INITDIALOG has
// returned, so the hook has marked it ready if it saw it at all. The answer comes back through
// the sending thread's message queue.
thread_local std::vector<HWND> g_settled_boxes;
void CALLBACK NoteBoxSettled(HWND window, UINT, ULONG_PTR, LRESULT) {
  g_settled_boxes.push_back(window);
}
bool BoxSettled(HWND window) {
  return std::find(g_settled_boxes.begin(), g_settled_boxes.end(), window) != g_settled_boxes.end();
}

// Button names by control id, IDOK 1 to IDNO 7.
constexpr const char* kButtonNames[] = {"0",     "ok",     "cancel", "abort",
                                        "retry", "ignore", "yes",    "no"};
constexpr const char* kIconNames[] = {"none",        "error", "question",  "warning",
                                      "information", "other", "unobserved"};

// The quoting CommandLineToArgvW undoes: backslashes are literal except before a quote,
// where they are doubled; quotes are escaped.
void AppendQuotedArgument(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    line.append(c == L'"' ? backslashes + 1 : 0, L'\\');  // a run before a quote is doubled
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    line += c;
  }
  line.append(backslashes, L'\\');  // and so is the run before the closing quote
  line += L'"';
}

// The limited token to start a program with. Under Wine, the one linked to the test's own.
// Windows hands a process without the TCB privilege only an identification copy of that, which
// starts nothing: there a limited program starts as a double-click starts it, with the token of
// the session's shell.
UniqueHandle OpenLimitedToken() {
  UniqueHandle source;
#if defined(VEXO_WINDOWS_RUNNER)
  DWORD shell = 0;
  ::GetWindowThreadProcessId(::GetShellWindow(), &shell);
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shell));
  ::OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, source.put());
#else
  UniqueHandle own;
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.put()) &&
      ::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    source.reset(linked.LinkedToken);
  }
#endif
  UniqueHandle primary;
  if (!source || !::DuplicateTokenEx(source.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                                     TokenPrimary, primary.put())) {
    ThrowSupportError("no limited token to start a program with", ::GetLastError());
  }
  return primary;
}

// Reads a box the hook has marked ready or that had its grace; its icon is known only then.
// Wine builds a box from a template with every button and destroys the unused ones; only
// visible buttons count, in case a system keeps hidden ones.
ObservedBox ReadBox(HWND window, bool ready) {
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(window, &process_id);
  std::wstring text(kMaxWindowText, L'\0');
  text.resize(static_cast<std::size_t>(std::max(
      0, ::GetWindowTextW(::GetDlgItem(window, kBoxTextControlId), text.data(), kMaxWindowText))));
  ObservedBox box{window, process_id, BoxIcon::kUnobserved, std::move(text), {}};
  if (ready) {
    // An absent property reads as 0, kNone; a value the hook never writes as kOther.
    const auto icon = reinterpret_cast<std::uintptr_t>(::GetPropW(window, kBoxIconProperty));
    box.icon = static_cast<BoxIcon>(std::min(icon, static_cast<std::uintptr_t>(BoxIcon::kOther)));
  }
  for (HWND button = nullptr; (button = ::FindWindowExW(window, button, L"Button", nullptr));) {
    if (::IsWindowVisible(button)) {
      box.buttons.push_back(::GetDlgCtrlID(button));
    }
  }
  return box;
}

// Posts what the button itself sends its dialog when clicked, or closes a box without buttons.
void AnswerBox(const ObservedBox& box, int id) {
  const auto has = [&](int button) {
    return std::find(box.buttons.begin(), box.buttons.end(), button) != box.buttons.end();
  };
  for (const int fallback : {IDCANCEL, IDNO, IDOK}) {
    id = has(id) ? id : fallback;
  }
  if (box.buttons.empty()) {
    ::PostMessageW(box.window, WM_CLOSE, 0, 0);
    return;
  }
  id = has(id) ? id : box.buttons.front();
  ::PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box.window, id)));
}

std::string Describe(BoxIcon icon, const std::vector<int>& buttons, const std::wstring& text) {
  std::string out = std::string("icon=") + kIconNames[static_cast<std::size_t>(icon)] + " buttons=";
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const auto id = static_cast<std::size_t>(buttons[i]);
    out += i == 0 ? "" : ",";
    out += id < std::size(kButtonNames) ? kButtonNames[id] : std::to_string(buttons[i]);
  }
  out += " text=\"";
  for (const char c : ToUtf8(text)) {
    out += c == '\n'               ? std::string("\\n")
           : c == '\\' || c == '"' ? std::string{'\\', c}
                                   : std::string{c};
  }
  return out + "\"";
}

}  // namespace

void ThrowSupportError(const std::string& what, std::uint32_t code) {
  throw SupportError(code == 0 ? what : what + " (Windows error " + std::to_string(code) + ")");
}

std::string ToUtf8(std::wstring_view text) {
  const int wide = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(0, length)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), length, nullptr, nullptr);
  return out;
}

RunningProgram::~RunningProgram() {
  if (process_ && !HasEnded()) {
    ::TerminateProcess(process_.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(process_.get(), kTerminateWaitMs);
  }
}

bool RunningProgram::HasEnded() const {
  return ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
}

ProgramResult RunningProgram::WaitOrTerminate(std::uint32_t timeout_ms) {
  const DWORD wait = ::WaitForSingleObject(process_.get(), timeout_ms);
  DWORD exit_code = 0;
  if (wait == WAIT_TIMEOUT) {
    Terminate();
    return {ERROR_TIMEOUT, true};
  }
  if (wait != WAIT_OBJECT_0 || !::GetExitCodeProcess(process_.get(), &exit_code)) {
    ThrowSupportError("cannot wait for the program's exit code", ::GetLastError());
  }
  return {exit_code, false};
}

void RunningProgram::Terminate() {
  // A process that ends by itself meanwhile makes TerminateProcess fail; the wait settles both.
  ::TerminateProcess(process_.get(), ERROR_TIMEOUT);
  if (::WaitForSingleObject(process_.get(), kTerminateWaitMs) != WAIT_OBJECT_0) {
    ThrowSupportError("a terminated program did not end", ::GetLastError());
  }
}

RunningProgram StartProgram(const ProgramStart& start) {
  std::wstring line;
  AppendQuotedArgument(line, start.program);
  for (const auto& argument : start.arguments) {
    AppendQuotedArgument(line += L' ', argument);
  }
  const wchar_t* directory =
      start.working_directory.empty() ? nullptr : start.working_directory.c_str();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  UniqueLocalMemory descriptor;
  if (start.process_sddl != nullptr &&
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(start.process_sddl, SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
    ThrowSupportError("SDDL " + ToUtf8(start.process_sddl), ::GetLastError());
  }
  SECURITY_ATTRIBUTES process{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
#if defined(VEXO_WINDOWS_RUNNER)
  // On Windows the shell's token is not one this process may assign (that needs a privilege
  // only services hold); the secondary logon service starts it, needing only the impersonation
  // privilege, and gives it no environment of its caller's unless handed one. Under Wine 8 a
  // program started so with the linked token runs elevated (measured), so there the bench
  // assigns the token itself.
  const UniqueResource<NullableTraits<LPWCH, &::FreeEnvironmentStringsW>> environment(
      ::GetEnvironmentStringsW());
  const auto start_limited = [&](HANDLE token) {
    return ::CreateProcessWithTokenW(token, 0, start.program.c_str(), line.data(),
                                     CREATE_UNICODE_ENVIRONMENT, environment.get(), directory,
                                     &startup, &info);
  };
#else
  const auto start_limited = [&](HANDLE token) {
    return ::CreateProcessAsUserW(token, start.program.c_str(), line.data(), &process, nullptr,
                                  FALSE, CREATE_UNICODE_ENVIRONMENT, nullptr, directory, &startup,
                                  &info);
  };
#endif
  const BOOL started =
      start.token == TokenKind::kLimited
          ? start_limited(OpenLimitedToken().get())
          : ::CreateProcessW(start.program.c_str(), line.data(), &process, nullptr, FALSE,
                             CREATE_UNICODE_ENVIRONMENT, nullptr, directory, &startup, &info);
  if (!started) {
    ThrowSupportError("cannot start " + ToUtf8(start.program), ::GetLastError());
  }
  const UniqueHandle thread(info.hThread);
  return RunningProgram(UniqueHandle(info.hProcess), info.dwProcessId);
}

namespace {

// schtasks.exe of the system with `arguments`; its exit code.
std::uint32_t RunSchtasks(std::vector<std::wstring> arguments) {
  wchar_t system[MAX_PATH] = {};
  if (::GetSystemDirectoryW(system, MAX_PATH) == 0) {
    ThrowSupportError("GetSystemDirectoryW", ::GetLastError());
  }
  return StartProgram({std::wstring(system) + L"\\schtasks.exe", std::move(arguments)})
      .WaitOrTerminate(kSchtasksTimeoutMs)
      .exit_code;
}

void DeleteTask(const wchar_t* name) noexcept {
  try {
    RunSchtasks({L"/Delete", L"/TN", name, L"/F"});
  } catch (const SupportError&) {
  }
}

}  // namespace

std::vector<std::pair<std::uint32_t, UniqueHandle>> OpenProcessesRunning(
    const std::wstring& image) {
  std::vector<std::pair<std::uint32_t, UniqueHandle>> running;
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    UniqueHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                      entry.th32ProcessID));
    if (process && GetProcessImagePath(process.get()) == image) {
      running.emplace_back(entry.th32ProcessID, std::move(process));
    }
  }
  return running;
}

std::string RunInServicesSession(const std::wstring& program,
                                 const std::vector<std::wstring>& arguments,
                                 const std::wstring& report,
                                 std::string_view done,
                                 std::uint32_t timeout_ms) {
  std::wstring line;
  AppendQuotedArgument(line, program);
  for (const auto& argument : arguments) {
    AppendQuotedArgument(line += L' ', argument);
  }
  const UniqueResource<NullableTraits<const wchar_t*, &DeleteTask>> task(kServicesSessionTask);
  if (RunSchtasks({L"/Create", L"/TN", task.get(), L"/TR", line, L"/SC", L"ONCE", L"/ST", L"00:00",
                   L"/RU", L"SYSTEM", L"/F"}) != 0 ||
      RunSchtasks({L"/Run", L"/TN", task.get()}) != 0) {
    ThrowSupportError("schtasks could not create or run the task " + ToUtf8(task.get()), 0);
  }
  std::string text;
  for (const ULONGLONG limit = ::GetTickCount64() + timeout_ms;
       text.find(done) == std::string::npos && ::GetTickCount64() < limit; ::Sleep(kReportPollMs)) {
    text = FileBytes(report);
  }
  return text;
}

std::wstring OtherSpellingOf(const std::wstring& path) {
#if defined(VEXO_WINDOWS_RUNNER)
  std::wstring short_path(MAX_PATH, L'\0');
  short_path.resize(::GetShortPathNameW(path.c_str(), short_path.data(), MAX_PATH));
  return short_path;
#else
  // A file of drive C: by its Unix path: the prefix's drive_c folder, not the drive's link
  // (which Wine maps back to C:).
  std::wstring prefix(MAX_PATH, L'\0');
  prefix.resize(::GetEnvironmentVariableW(L"WINEPREFIX", prefix.data(), MAX_PATH));
  std::wstring z = L"Z:" + prefix + L"\\drive_c" + path.substr(2);
  std::replace(z.begin(), z.end(), L'/', L'\\');
  return z;
#endif
}

bool LimitedTokenExists() {
  UniqueHandle own;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.put()) &&
         ::GetTokenInformation(own.get(), TokenElevationType, &type, sizeof type, &size) &&
         type == TokenElevationTypeFull;
}

std::wstring InBuildTree(std::wstring_view relative) {
  std::wstring path = ParentPath(CurrentProgramFolder()) + L"\\" + std::wstring(relative);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring CurrentProgramFolder() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\'));
}

std::string DescribeBox(const ObservedBox& box) {
  return Describe(box.icon, box.buttons, box.text);
}

BoxResponder::BoxResponder(Answer answer, std::uint32_t hold_ms)
    : answer_(std::move(answer)), hold_ms_(hold_ms) {
  // The system loads the DLL by the full path it has here into every process of the desktop
  // that handles messages (thread 0 with the DLL's module), and calls the hook in there.
  const std::wstring path = CurrentProgramFolder() + L"\\" + kBoxHookDllName;
  module_.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  const auto procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
      module_ ? ::GetProcAddress(module_.get(), kBoxHookProcName) : nullptr));
  if (procedure != nullptr) {
    hook_.reset(::SetWindowsHookExW(WH_CALLWNDPROCRET, procedure, module_.get(), 0));
  }
  if (!hook_) {
    ThrowSupportError("cannot install the box hook " + ToUtf8(path), ::GetLastError());
  }
}

void BoxResponder::Poll() {
  std::vector<HWND> boxes;
  for (HWND box = nullptr;
       (box = ::FindWindowExW(nullptr, box, kDialogClass, kProductBoxCaption)) != nullptr;) {
    if (::IsWindowVisible(box)) {
      boxes.push_back(box);
    }
  }
  // Forget boxes that are gone, so a window handle handed out again later is a new box.
  const auto gone = [&](HWND window) {
    return std::find(boxes.begin(), boxes.end(), window) == boxes.end();
  };
  std::erase_if(first_seen_, [&](const auto& entry) { return gone(entry.first); });
  std::erase_if(g_settled_boxes, gone);
  const std::uint64_t now = ::GetTickCount64();
  for (const HWND window : boxes) {
    const auto [entry, first_sight] = first_seen_.try_emplace(window, now);
    std::uint64_t& seen = entry->second;
    if (first_sight) {
      ::SendMessageCallbackW(window, WM_NULL, 0, 0, NoteBoxSettled, 0);
    }
    const bool ready = ::GetPropW(window, kBoxReadyProperty) != nullptr;
    if (seen == kAnswered || now - seen < hold_ms_ || (!ready && !BoxSettled(window))) {
      continue;  // answered, held, or still setting up
    }
    const ObservedBox box = ReadBox(window, ready);
    if (::IsWindow(window)) {
      AnswerBox(box, answer_(box));
      seen = kAnswered;
    }
  }
}

ProgramResult BoxResponder::WaitForExit(RunningProgram& program,
                                        std::uint32_t timeout_ms,
                                        const std::function<void()>& each_look) {
  const std::uint64_t deadline = ::GetTickCount64() + timeout_ms;
  const HANDLE process = program.handle();
  // Windows of the waiting thread are served while it waits: a test may own one the program
  // under test talks to.
  while (::MsgWaitForMultipleObjects(1, &process, FALSE, kBoxPollIntervalMs, QS_ALLINPUT) !=
         WAIT_OBJECT_0) {
    for (MSG msg; ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) {
      ::DispatchMessageW(&msg);
    }
    Poll();
    if (each_look) {
      each_look();
    }
    if (::GetTickCount64() >= deadline) {
      program.Terminate();
      return {ERROR_TIMEOUT, true};
    }
  }
  return program.WaitOrTerminate(0);
}

BoxScript& BoxScript::Expect(ExpectedBox box) {
  if (std::find(box.buttons.begin(), box.buttons.end(), box.press) == box.buttons.end()) {
    ThrowSupportError("a scripted box must press one of its own buttons", 0);
  }
  boxes_.push_back(std::move(box));
  return *this;
}

BoxScript& BoxScript::ExpectOk(BoxIcon icon, std::wstring text) {
  return Expect({icon, std::move(text), {IDOK}, IDOK});
}

BoxScript& BoxScript::ExpectYesNo(BoxIcon icon, std::wstring text, int press) {
  return Expect({icon, std::move(text), {IDYES, IDNO}, press});
}

ScriptedRun RunWithBoxes(const ProgramStart& start,
                         BoxScript script,
                         std::uint32_t timeout_ms,
                         const RunWatcher& watch) {
  ScriptedRun run;
  const std::vector<ExpectedBox>& expected = script.boxes();
  BoxResponder responder([&](const ObservedBox& box) {
    const std::size_t number = run.boxes.size();
    run.boxes.push_back(box);
    if (number >= expected.size()) {
      run.violations.push_back("unexpected box: " + DescribeBox(box));
      return IDCANCEL;
    }
    const ExpectedBox& next = expected[number];
    if (DescribeBox(box) != Describe(next.icon, next.buttons, next.text)) {
      run.violations.push_back("box " + std::to_string(number + 1) + ": " + DescribeBox(box) +
                               ", expected " + Describe(next.icon, next.buttons, next.text));
    }
    return next.press;
  });
  RunningProgram program = StartProgram(start);
  run.result = responder.WaitForExit(program, timeout_ms, [&] {
    if (watch) {
      watch(program, script);
    }
  });
  responder.Poll();
  if (run.result.timed_out) {
    run.violations.push_back("program did not end within " + std::to_string(timeout_ms) + " ms");
  }
  for (std::size_t i = run.boxes.size(); i < expected.size(); ++i) {
    run.violations.push_back("expected box " + std::to_string(i + 1) + " never appeared: " +
                             Describe(expected[i].icon, expected[i].buttons, expected[i].text));
  }
  return run;
}

}  // namespace vexo::test
