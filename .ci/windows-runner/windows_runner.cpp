// vexo-windows-runner: runs the test programs of a plan natively on a Windows runner, one at a
// time, and fails unless every row the plan expects to run there passed. It is the whole logic
// of the workflow's Windows job (.github/workflows/windows.yml), kept out of PowerShell so that
// its control flow runs, and is proven, under Wine here (dry-run.sh).
//
//   vexo-windows-runner PLAN RESULTS [--job-minutes N]
//
// PLAN lies at the root of the unpacked build tree, whose bin folder holds the test programs:
//
//   program NAME SECONDS   the test program bin\NAME.exe and its time limit
//   full SUITE.TEST        a row of that program, run with the job's own (elevated) token
//   limited SUITE.TEST     a row that needs the limited token linked to it: it runs where User
//                          Account Control is on and skips, saying why, where it is off
//   # a comment; blank lines are ignored
//
// Each program runs in a kill-on-close job with `--gtest_output=xml:RESULTS\NAME.xml`; what it
// left running is ended with the job. A program past its limit is ended and fails. A program
// that wrote no report or ran no test, and every planned row missing from a report, is "not
// run". The job fails (exit code 1) on a failed row, on a row that the plan expects to run here
// and that did not, on a row the plan does not name, and on a program that ended with a code
// other than 0 though its rows passed. A plan that cannot be read, limits that add up to more
// than the job's minutes, or a job that cannot run the rows (not elevated, the services'
// session, or a consent prompt that would wait for a person) end it with 2 before anything
// runs. A Markdown table of the outcome goes to stdout and, when GITHUB_STEP_SUMMARY names a
// file, to the end of that file.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/handles.h"

namespace {

using vexo::UniqueHandle;

constexpr int kUsage = 2;
constexpr DWORD kTimeLimitExit = ERROR_TIMEOUT;
constexpr DWORD kDefaultJobMinutes = 75;

struct Row {
  std::string name;  // SUITE.TEST
  bool limited = false;
};

struct Program {
  std::string name;
  DWORD limit_s = 0;
  std::vector<Row> rows;
};

// A row as its program's report gives it.
struct Reported {
  bool failed = false;
  bool skipped = false;
  std::string why;  // the failure or skip message, on one line
};

struct Outcome {
  int run = 0, passed = 0, failed = 0, skipped = 0, not_run = 0;
  std::map<std::string, int> skip_reasons;
  std::vector<std::string> problems;  // what fails the job
};

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size() * 2 + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()))));
  return wide;
}

std::wstring ParentOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::optional<std::vector<Program>> ReadPlan(const std::wstring& path, std::string& error) {
  std::ifstream file(path.c_str());
  if (!file) {
    error = "cannot read the plan";
    return std::nullopt;
  }
  std::vector<Program> plan;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    std::istringstream words(line);
    std::string kind, name, rest;
    words >> kind >> name;
    if (kind.empty() || kind[0] == '#') {
      continue;
    }
    const bool is_row = kind == "full" || kind == "limited";
    long limit = 0;
    if (kind == "program") {
      words >> limit;
    }
    if ((kind == "program" && limit <= 0) || (is_row && plan.empty()) ||
        (kind != "program" && !is_row) || name.empty() || (words >> rest)) {
      error = "plan line " + std::to_string(number) + " is not a program or a row: " + line;
      return std::nullopt;
    }
    if (kind == "program") {
      plan.push_back({name, static_cast<DWORD>(limit), {}});
    } else {
      plan.back().rows.push_back({name, kind == "limited"});
    }
  }
  return plan;
}

// Undoes the escapes gtest writes into attribute values.
std::string Unescape(const std::string& text) {
  static const std::pair<const char*, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool named = false;
    for (const auto& [entity, c] : kNamed) {
      if (text.compare(i, std::strlen(entity), entity) == 0) {
        out += c;
        i += std::strlen(entity) - 1;
        named = true;
        break;
      }
    }
    const std::size_t end = text.find(';', i);
    if (!named && text.compare(i, 2, "&#") == 0 && end != std::string::npos) {
      const bool hex = text[i + 2] == 'x';
      out += static_cast<char>(std::stoul(text.substr(i + (hex ? 3 : 2)), nullptr, hex ? 16 : 10));
      i = end;
    } else if (!named) {
      out += text[i];
    }
  }
  return out;
}

std::string Attribute(const std::string& element, const std::string& name) {
  const std::size_t at = element.find(" " + name + "=\"");
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t begin = at + name.size() + 3;
  return Unescape(element.substr(begin, element.find('"', begin) - begin));
}

// A failure or skip message without the source location gtest puts first, on one line that
// fits a table cell.
std::string OneLine(const std::string& message) {
  constexpr std::size_t kLongest = 160;
  std::string line = message.substr(message.find('\n') + 1);
  for (char& c : line) {
    c = c == '\n' || c == '|' ? ' ' : c;
  }
  std::size_t end = std::min(line.size(), kLongest);
  while (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
    --end;  // not inside a UTF-8 sequence
  }
  return end < line.size() ? line.substr(0, end) + "..." : line;
}

// The rows of a gtest XML report by SUITE.TEST; none when there is no report.
std::optional<std::map<std::string, Reported>> ReadReport(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << file.rdbuf();
  const std::string xml = content.str();
  std::map<std::string, Reported> rows;
  for (std::size_t at = xml.find("<testcase "); at != std::string::npos;
       at = xml.find("<testcase ", at + 1)) {
    const std::size_t head_end = xml.find('>', at);
    const std::string head = xml.substr(at, head_end - at);
    const bool has_body = !head.ends_with("/");
    const std::string body =
        has_body ? xml.substr(head_end, xml.find("</testcase>", head_end) - head_end) : "";
    if (Attribute(head, "status") == "notrun") {
      continue;  // a disabled test: as if it were not there
    }
    Reported row;
    row.failed = body.find("<failure") != std::string::npos;
    row.skipped = !row.failed && Attribute(head, "result") == "skipped";
    const std::size_t detail = body.find(row.failed ? "<failure " : "<skipped ");
    if (detail != std::string::npos) {
      const std::string message =
          Attribute(body.substr(detail, body.find('>', detail) - detail), "message");
      row.why = OneLine(message);
    }
    rows[Attribute(head, "classname") + "." + Attribute(head, "name")] = row;
  }
  return rows;
}

struct RunResult {
  DWORD start_error = 0;  // the Windows error of a program that could not be started
  bool timed_out = false;
  DWORD exit_code = 0;
};

// Runs one program in a kill-on-close job, so that nothing it started outlives it.
RunResult RunInJob(const std::wstring& program,
                   const std::wstring& report,
                   const std::wstring& folder,
                   DWORD limit_s) {
  const UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  std::wstring line = L"\"" + program + L"\" \"--gtest_output=xml:" + report + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!job ||
      !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
      !::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, folder.c_str(), &startup, &info)) {
    return {::GetLastError()};
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  if (!::AssignProcessToJobObject(job.get(), process.get()) ||
      ::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(process.get(), error);
    return {error};
  }
  RunResult result;
  if (::WaitForSingleObject(process.get(), limit_s * 1000) == WAIT_TIMEOUT) {
    result.timed_out = true;
    ::TerminateJobObject(job.get(), kTimeLimitExit);
    ::WaitForSingleObject(process.get(), INFINITE);
  }
  ::GetExitCodeProcess(process.get(), &result.exit_code);
  return result;
}

// Compares what a program did with its rows in the plan.
Outcome Judge(const Program& program,
              const RunResult& run,
              const std::optional<std::map<std::string, Reported>>& report,
              bool limited_token) {
  Outcome out;
  const auto problem = [&](const std::string& text) {
    out.problems.push_back(program.name + ": " + text);
  };
  if (run.start_error != 0) {
    problem("not run: it could not be started (Windows error " + std::to_string(run.start_error) +
            ")");
  } else if (run.timed_out) {
    problem("ended at its time limit of " + std::to_string(program.limit_s) + " s");
  }
  if (!report && run.start_error == 0) {
    problem("not run: it wrote no report (exit code " + std::to_string(run.exit_code) + ")");
  } else if (report && report->empty()) {
    problem("not run: it ran no test");
  }
  std::map<std::string, Reported> unplanned = report.value_or(std::map<std::string, Reported>{});
  for (const Row& row : program.rows) {
    const bool expected = !row.limited || limited_token;
    const auto found = unplanned.find(row.name);
    if (found == unplanned.end()) {
      ++out.not_run;
      if (expected && report && !report->empty()) {
        problem(row.name + " not run: missing from the report");
      }
      continue;
    }
    const Reported reported = found->second;
    unplanned.erase(found);
    ++out.run;
    if (reported.failed) {
      ++out.failed;
      problem(row.name + " failed: " + reported.why);
    } else if (reported.skipped) {
      ++out.skipped;
      ++out.skip_reasons[reported.why];
      if (expected) {
        problem(row.name + " not run here, though the plan expects it: " + reported.why);
      }
    } else {
      ++out.passed;
    }
  }
  for (const auto& [name, reported] : unplanned) {
    ++out.run;
    problem(name + " is not in the plan");
  }
  if (!run.timed_out && run.exit_code != 0 && out.failed == 0 && report) {
    problem("ended with exit code " + std::to_string(run.exit_code));
  }
  return out;
}

DWORD TokenValue(TOKEN_INFORMATION_CLASS kind) {
  UniqueHandle token;
  DWORD value = 0;
  DWORD size = 0;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
      !::GetTokenInformation(token.get(), kind, &value, sizeof value, &size)) {
    return 0;
  }
  return value;
}

// The consent prompt's setting for administrators, or none.
std::optional<DWORD> ConsentPromptBehaviorAdmin() {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                     L"ConsentPromptBehaviorAdmin", RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

std::string Summary(const std::vector<Program>& plan,
                    const std::vector<Outcome>& outcomes,
                    bool limited_token) {
  std::string text =
      "| program | rows run | passed | failed | skipped (why) | not run |\n"
      "|---|---|---|---|---|---|\n";
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const Outcome& o = outcomes[i];
    std::ostringstream row;
    row << "| " << plan[i].name << " | " << o.run << " | " << o.passed << " | " << o.failed << " | "
        << o.skipped;
    for (const auto& [reason, count] : o.skip_reasons) {
      row << " " << count << " x " << reason << ";";
    }
    row << " | " << o.not_run << " |\n";
    text += row.str();
    problems.insert(problems.end(), o.problems.begin(), o.problems.end());
  }
  text += std::string("\nLimited-token rows: ") +
          (limited_token ? "expected to run (a linked limited token exists).\n"
                         : "not expected here (no linked limited token: User Account Control "
                           "is off); they need a UAC runner.\n");
  text += problems.empty() ? "\n**Every row the plan expects here passed.**\n"
                           : "\n**" + std::to_string(problems.size()) + " problem(s):**\n";
  for (const std::string& p : problems) {
    text += "- " + p + "\n";
  }
  return text;
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "vexo-windows-runner: %s\n", why.c_str());
  return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  DWORD job_minutes = kDefaultJobMinutes;
  if (args.size() == 4 && args[2] == L"--job-minutes") {
    job_minutes = static_cast<DWORD>(std::wcstoul(args[3].c_str(), nullptr, 10));
  } else if (args.size() != 2) {
    return Refuse("usage: vexo-windows-runner PLAN RESULTS [--job-minutes N]");
  }
  std::string error;
  const std::optional<std::vector<Program>> plan = ReadPlan(args[0], error);
  if (!plan) {
    return Refuse(error);
  }
  DWORD total_s = 0;
  for (const Program& program : *plan) {
    total_s += program.limit_s;
  }
  if (total_s > job_minutes * 60) {
    return Refuse("the programs' limits add up to " + std::to_string(total_s) +
                  " s, more than the job's " + std::to_string(job_minutes) + " minutes");
  }
  // The rows start as an elevated administrator in the user's session, as Wine's processes do;
  // the launcher refuses the services' session 0 by design.
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  const bool elevated = TokenValue(TokenElevation) != 0;
  const bool limited_token = TokenValue(TokenElevationType) == TokenElevationTypeFull;
  const std::optional<DWORD> consent = ConsentPromptBehaviorAdmin();
  std::printf("session %lu, %s, %s linked limited token, ConsentPromptBehaviorAdmin %s\n", session,
              elevated ? "elevated" : "not elevated", limited_token ? "a" : "no",
              consent ? std::to_string(*consent).c_str() : "not set");
  if (session == 0 || !elevated) {
    return Refuse("the rows need an elevated administrator in a user's session");
  }
  if (limited_token && consent.value_or(0) != 0) {
    return Refuse(
        "User Account Control is on and asks for consent: the limited rows would wait "
        "for a person; set ConsentPromptBehaviorAdmin to 0 on this runner");
  }
  const std::wstring tree = ParentOf(args[0]);
  const std::wstring& results = args[1];
  ::CreateDirectoryW(results.c_str(), nullptr);
  std::vector<Outcome> outcomes;
  for (const Program& program : *plan) {
    std::printf("=== %s (limit %lu s)\n", program.name.c_str(), program.limit_s);
    std::fflush(stdout);
    const std::wstring report = results + L"\\" + Widen(program.name) + L".xml";
    ::DeleteFileW(report.c_str());
    const RunResult run = RunInJob(tree + L"\\bin\\" + Widen(program.name) + L".exe", report,
                                   tree + L"\\bin", program.limit_s);
    outcomes.push_back(Judge(program, run, ReadReport(report), limited_token));
  }
  const std::string summary = Summary(*plan, outcomes, limited_token);
  std::printf("\n%s", summary.c_str());
  if (const wchar_t* step_summary = ::_wgetenv(L"GITHUB_STEP_SUMMARY");
      step_summary != nullptr && *step_summary != L'\0') {
    std::ofstream(step_summary, std::ios::app) << "## Windows runner\n\n" << summary;
  }
  for (const Outcome& o : outcomes) {
    if (!o.problems.empty()) {
      return 1;
    }
  }
  return 0;
}
