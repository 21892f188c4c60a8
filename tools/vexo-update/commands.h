// The commands of vexo-update: keygen, sign and publish.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vexo::tool {

struct CommandSpec {
  const char* name;
  const char* summary;
  const char* usage;  // options and their meaning, printed by --help
  std::vector<const char*> required;
  std::vector<const char*> optional;
  int (*run)(const std::map<std::string, std::string>& options);
};

const std::vector<CommandSpec>& Commands();

int RunKeygen(const std::map<std::string, std::string>& options);
int RunSign(const std::map<std::string, std::string>& options);
int RunPublish(const std::map<std::string, std::string>& options);

}  // namespace vexo::tool
