// File operations of the release tool, with the checks a signing tool needs: bounded reads,
// key files created new with owner-only access, published files replaced atomically.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::tool {

// The whole file; more than `limit` bytes is an error that names the file and the limit.
std::vector<std::uint8_t> ReadFileLimited(const std::string& path,
                                          std::uint64_t limit,
                                          const std::string& what);

// Creates `path` new (never over an existing file or through a symbolic link) with `mode`
// exactly, whatever the umask, and writes `content`.
void WriteNewFile(const std::string& path,
                  std::string_view content,
                  mode_t mode,
                  const std::string& what);

// Writes `content` to a temporary file beside `path` and renames it over `path`, so readers
// see the old or the new file, never a half-written one.
void ReplaceFile(const std::string& path, std::string_view content, const std::string& what);

// mkdir -p with mode 0755.
void MakeFolders(const std::string& path);

bool PathExists(const std::string& path);

}  // namespace vexo::tool
