// vexo-update: release tooling for the launcher's signed updates (Linux, OpenSSL).
//
//   vexo-update keygen  --private-key FILE --public-key FILE
//   vexo-update sign    --private-key FILE --payload FILE --out FILE
//   vexo-update publish --private-key FILE --program FILE --version X.Y.Z --sequence N
//                       --out DIR [--role host] [--valid-days 30] [--stage current|next]
//
// Exit codes: 0 done, 1 a bad input or failed operation, 2 a malformed command line.
#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <string>

#include "tools/vexo-update/commands.h"
#include "tools/vexo-update/tool_error.h"

namespace vexo::tool {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void PrintOverview(std::ostream& out) {
  out << "usage: vexo-update <command> [options]\n\ncommands:\n";
  for (const CommandSpec& command : Commands()) {
    out << "  " << command.name << std::string(10 - std::strlen(command.name), ' ')
        << command.summary << "\n";
  }
  out << "\n'vexo-update <command> --help' describes a command's options.\n";
}

void PrintCommandHelp(const CommandSpec& command, std::ostream& out) {
  out << "usage: vexo-update " << command.name;
  for (const char* option : command.required) {
    out << " " << option << " ...";
  }
  for (const char* option : command.optional) {
    out << " [" << option << " ...]";
  }
  out << "\n\n" << command.summary << ".\n\noptions:\n" << command.usage;
}

bool Contains(const std::vector<const char*>& list, const std::string& option) {
  return std::any_of(list.begin(), list.end(),
                     [&option](const char* entry) { return option == entry; });
}

std::map<std::string, std::string> ParseOptions(const CommandSpec& command, int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 2; i < argc; i += 2) {
    const std::string option = argv[i];
    if (!Contains(command.required, option) && !Contains(command.optional, option)) {
      throw UsageError("unknown option \"" + option + "\" for " + command.name);
    }
    if (i + 1 >= argc) {
      throw UsageError(option + " needs a value");
    }
    if (!options.emplace(option, argv[i + 1]).second) {
      throw UsageError(option + " is given more than once");
    }
    if (options[option].empty()) {
      throw UsageError(option + " needs a non-empty value");
    }
  }
  for (const char* option : command.required) {
    if (options.count(option) == 0) {
      throw UsageError(std::string(option) + " is required");
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    PrintOverview(std::cerr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(std::cout);
    return 0;
  }
  const auto& commands = Commands();
  const auto command = std::find_if(commands.begin(), commands.end(),
                                    [&name](const CommandSpec& c) { return name == c.name; });
  if (command == commands.end()) {
    std::cerr << "vexo-update: unknown command \"" << name << "\"\n\n";
    PrintOverview(std::cerr);
    return kExitUsage;
  }
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintCommandHelp(*command, std::cout);
      return 0;
    }
  }
  try {
    return command->run(ParseOptions(*command, argc, argv));
  } catch (const UsageError& error) {
    std::cerr << "vexo-update " << name << ": " << error.what() << "\n\n";
    PrintCommandHelp(*command, std::cerr);
    return kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "vexo-update " << name << ": error: " << error.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace
}  // namespace vexo::tool

int main(int argc, char** argv) {
  return vexo::tool::Main(argc, argv);
}
