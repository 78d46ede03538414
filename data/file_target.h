// Where a finished file goes when it is written.
#pragma once

#include <filesystem>
#include <string>

namespace dg::data {

// Whether `path` names something that is there and is not a plain file
// (/dev/stdout, a pipe another program reads, a link): such a target is
// written into, since renaming a new file over it would replace it. A
// folder is not such a target.
inline bool WrittenInPlace(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  return fs::exists(path, ec) && !fs::is_directory(path, ec) &&
         (!fs::is_regular_file(path, ec) || fs::is_symlink(path, ec));
}

}  // namespace dg::data
