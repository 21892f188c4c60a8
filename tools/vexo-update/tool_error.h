// How the release tool reports a problem: one sentence for the operator, then a non-zero exit.
#pragma once

#include <stdexcept>
#include <string>

namespace vexo::tool {

// A bad input or a failed operation; main prints "vexo-update: error: <what>" and exits 1.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& what) : std::runtime_error(what) {}
};

// A malformed command line; main prints the message and the command's usage and exits 2.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace vexo::tool
