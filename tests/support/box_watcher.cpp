#include "tests/support/box_watcher.h"

#include <algorithm>
#include <utility>

#include "tests/support/support_error.h"

namespace vexo::test {
namespace {

std::string EscapeText(const std::wstring& text) {
  std::string out;
  for (const char c : ToUtf8(text)) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DescribeButtons(const std::vector<int>& ids) {
  std::string out;
  for (const int id : ids) {
    if (!out.empty()) {
      out += ',';
    }
    out += ToUtf8(ButtonName(id));
  }
  return out.empty() ? "(none)" : out;
}

std::string DescribeExpected(const ExpectedBox& box) {
  return std::string("icon=") + BoxIconName(box.icon) + " buttons=" + DescribeButtons(box.buttons) +
         " text=\"" + EscapeText(box.text) + "\"";
}

// Differences between what came and what the script expected; empty when they agree.
std::vector<std::string> CompareBox(const ObservedBox& box, const ExpectedBox& expected) {
  std::vector<std::string> differences;
  if (box.icon != expected.icon) {
    differences.push_back(std::string("icon ") + BoxIconName(box.icon) + ", expected " +
                          BoxIconName(expected.icon));
  }
  if (box.text != expected.text) {
    differences.push_back("text \"" + EscapeText(box.text) + "\", expected \"" +
                          EscapeText(expected.text) + "\"");
  }
  if (box.ButtonIds() != expected.buttons) {
    differences.push_back("buttons " + DescribeButtons(box.ButtonIds()) + ", expected " +
                          DescribeButtons(expected.buttons));
  }
  return differences;
}

}  // namespace

std::string DescribeBox(const ObservedBox& box) {
  return std::string("icon=") + BoxIconName(box.icon) +
         " buttons=" + DescribeButtons(box.ButtonIds()) + " text=\"" + EscapeText(box.text) + "\"";
}

BoxResponder::BoxResponder(Answer answer) : answer_(std::move(answer)) {}

RunningProgram BoxResponder::Start(const ProgramStart& start) {
  return StartProgram(start);
}

std::size_t BoxResponder::Poll() {
  const std::vector<HWND> boxes = FindProductBoxes();
  // Forget boxes that are gone, so a window handle the system hands out again later is a new box.
  std::erase_if(answered_, [&](HWND window) {
    return std::find(boxes.begin(), boxes.end(), window) == boxes.end();
  });
  std::erase_if(first_seen_, [&](const auto& entry) {
    return std::find(boxes.begin(), boxes.end(), entry.first) == boxes.end();
  });
  std::size_t count = 0;
  const std::uint64_t now = ::GetTickCount64();
  for (const HWND window : boxes) {
    if (std::find(answered_.begin(), answered_.end(), window) != answered_.end()) {
      continue;
    }
    const std::uint64_t seen = first_seen_.try_emplace(window, now).first->second;
    if (!IsBoxReady(window) && now - seen < kBoxReadyGraceMs) {
      continue;  // still setting up, or the hook is late: look again next time
    }
    const std::optional<ObservedBox> box = ReadBox(window);
    if (!box) {
      continue;
    }
    const int id = answer_(*box);
    if (box->HasButton(id)) {
      PressBoxButton(*box, id);
    } else {
      DismissBox(*box);
    }
    answered_.push_back(window);
    ++count;
  }
  return count;
}

ProgramResult BoxResponder::WaitForExit(RunningProgram& program, std::uint32_t timeout_ms) {
  const std::uint64_t deadline = ::GetTickCount64() + timeout_ms;
  while (true) {
    if (const auto exit_code = program.WaitForExit(0)) {
      return {*exit_code, false};
    }
    Poll();
    if (::GetTickCount64() >= deadline) {
      program.Terminate();
      return {ERROR_TIMEOUT, true};
    }
    // Waiting on the process (not sleeping) returns the moment it ends.
    program.WaitForExit(kBoxPollIntervalMs);
  }
}

void BoxResponder::WatchFor(std::uint32_t duration_ms) {
  const std::uint64_t deadline = ::GetTickCount64() + duration_ms;
  do {
    Poll();
    ::Sleep(kBoxPollIntervalMs);
  } while (::GetTickCount64() < deadline);
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

BoxWatcher::BoxWatcher(BoxScript script)
    : script_(script.boxes()),
      responder_([this](const ObservedBox& box) { return AnswerBox(box); }) {}

int BoxWatcher::AnswerBox(const ObservedBox& box) {
  int press = 0;
  if (next_ >= script_.size()) {
    violations_.push_back("unexpected box: " + DescribeBox(box));
    press = ChooseEscapeButton(box).value_or(IDCANCEL);
  } else {
    const ExpectedBox& expected = script_[next_];
    for (const auto& difference : CompareBox(box, expected)) {
      violations_.push_back("box " + std::to_string(next_ + 1) + ": " + difference);
    }
    ++next_;
    press =
        box.HasButton(expected.press) ? expected.press : ChooseEscapeButton(box).value_or(IDCANCEL);
  }
  answered_.push_back({box, press});
  return press;
}

ProgramResult BoxWatcher::WaitForExit(RunningProgram& program, std::uint32_t timeout_ms) {
  const ProgramResult result = responder_.WaitForExit(program, timeout_ms);
  if (result.timed_out) {
    violations_.push_back("program did not end within " + std::to_string(timeout_ms) +
                          " ms and was terminated");
  }
  return result;
}

std::vector<std::string> BoxWatcher::Finish() {
  responder_.Poll();
  for (; next_ < script_.size(); ++next_) {
    violations_.push_back("expected box " + std::to_string(next_ + 1) +
                          " never appeared: " + DescribeExpected(script_[next_]));
  }
  return std::exchange(violations_, {});
}

ScriptedRun RunWithBoxes(const ProgramStart& start, BoxScript script, std::uint32_t timeout_ms) {
  BoxWatcher watcher(std::move(script));
  RunningProgram program = watcher.Start(start);
  ScriptedRun run;
  run.result = watcher.WaitForExit(program, timeout_ms);
  run.violations = watcher.Finish();
  run.boxes = watcher.answered();
  return run;
}

}  // namespace vexo::test
