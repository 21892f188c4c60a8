// Fuzzes ParseVersion against the version grammar written as a regular expression, and
// checks that an accepted text prints back as itself.
#include <cstddef>
#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>

#include "update/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::regex kGrammar(
      R"((0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4}))", std::regex::ECMAScript);
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool accepted = true;
  try {
    const vexo::ProgramVersion version = vexo::ParseVersion(text);
    if (vexo::VersionText(version) != text) {
      __builtin_trap();
    }
  } catch (const std::runtime_error&) {
    accepted = false;
  }
  // The library regex recurses per character; keep its inputs short.
  if (size <= 64 && accepted != std::regex_match(text, kGrammar)) {
    __builtin_trap();
  }
  return 0;
}
