// Watching and answering the product's message boxes while programs under test run.
//
// BoxResponder is the mechanism: it installs the box hook (so it exists before any program it
// starts), finds every new product box in the session, reads it and presses the button its
// answer function chooses. BoxWatcher is what tests use: it holds a script of the boxes the test
// expects, in order, and turns every difference into a violation:
//   - a box that comes when the script has none left (answered with Cancel/No/OK so the program
//     can end),
//   - a box whose icon, text or buttons differ from the next expected one,
//   - an expected box that never came (found by Finish),
//   - a program that did not end in time (terminated).
// Programs are started through the watcher, so the hook is always in place first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/message_box_driver.h"
#include "tests/support/program_start.h"

namespace vexo::test {

// How long a found box may stay without the hook's ready mark before it is read anyway (its
// icon then reads as unobserved, which no script accepts).
inline constexpr std::uint32_t kBoxReadyGraceMs = 3000;
inline constexpr std::uint32_t kBoxPollIntervalMs = 20;

class BoxResponder {
 public:
  // Returns the id of the button to press on `box`.
  using Answer = std::function<int(const ObservedBox& box)>;

  explicit BoxResponder(Answer answer);
  BoxResponder(const BoxResponder&) = delete;
  BoxResponder& operator=(const BoxResponder&) = delete;

  RunningProgram Start(const ProgramStart& start);
  // Answers the boxes that are up now. Returns how many were answered.
  std::size_t Poll();
  // Answers boxes until the program ends or `timeout_ms` has passed; a program still running
  // then is terminated and reported as timed out.
  ProgramResult WaitForExit(RunningProgram& program, std::uint32_t timeout_ms);
  // Answers boxes for `duration_ms`.
  void WatchFor(std::uint32_t duration_ms);

 private:
  BoxHook hook_;
  Answer answer_;
  std::map<HWND, std::uint64_t> first_seen_;  // boxes found, by tick of first sight
  std::vector<HWND> answered_;                // boxes answered and maybe still closing
};

struct ExpectedBox {
  BoxIcon icon = BoxIcon::kNone;
  std::wstring text;
  std::vector<int> buttons;  // ids in control order, e.g. {IDYES, IDNO}
  int press = IDOK;          // one of `buttons`
};

class BoxScript {
 public:
  // Throws SupportError when `press` is not one of `buttons`.
  BoxScript& Expect(ExpectedBox box);
  // A box with only an OK button, answered with OK.
  BoxScript& ExpectOk(BoxIcon icon, std::wstring text);
  // A Yes/No box answered with `press`.
  BoxScript& ExpectYesNo(BoxIcon icon, std::wstring text, int press);

  const std::vector<ExpectedBox>& boxes() const { return boxes_; }

 private:
  std::vector<ExpectedBox> boxes_;
};

struct AnsweredBox {
  ObservedBox box;
  int pressed = 0;
};

class BoxWatcher {
 public:
  // An empty script means: no product box may appear at all.
  explicit BoxWatcher(BoxScript script);

  RunningProgram Start(const ProgramStart& start) { return responder_.Start(start); }
  ProgramResult WaitForExit(RunningProgram& program, std::uint32_t timeout_ms);
  void WatchFor(std::uint32_t duration_ms) { responder_.WatchFor(duration_ms); }

  // Answers what is still up, adds a violation for each expected box that never came and
  // returns every violation (empty: the boxes went exactly as scripted).
  [[nodiscard]] std::vector<std::string> Finish();

  const std::vector<AnsweredBox>& answered() const { return answered_; }

 private:
  int AnswerBox(const ObservedBox& box);

  std::vector<ExpectedBox> script_;
  std::size_t next_ = 0;
  std::vector<AnsweredBox> answered_;
  std::vector<std::string> violations_;
  BoxResponder responder_;  // last: its hook goes first and nothing calls back into a dead watcher
};

// One program under one script.
struct ScriptedRun {
  ProgramResult result;
  std::vector<AnsweredBox> boxes;
  std::vector<std::string> violations;
};

[[nodiscard]] ScriptedRun RunWithBoxes(const ProgramStart& start,
                                       BoxScript script,
                                       std::uint32_t timeout_ms);

// One line per box for messages and vexo-testctl: icon, text, buttons (UTF-8).
std::string DescribeBox(const ObservedBox& box);

}  // namespace vexo::test
