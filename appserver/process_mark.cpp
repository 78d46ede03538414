#include "appserver/process_mark.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace dg::server {
namespace {

constexpr char kSeparator = '|';

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (in) std::getline(in, line);
  return line;
}

std::string MachineId() {
  std::string id = FirstLine("/etc/machine-id");
  if (id.empty()) id = FirstLine("/var/lib/dbus/machine-id");
  return id;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

// Field 22 of /proc/PID/stat (clock ticks after boot), "" when the process
// does not exist or has ended: a process killed but not yet reaped by its
// parent (state Z, or X while it goes) keeps its entry for a while, and a
// launch right after the kill must not take it for a live one. The command
// name (field 2) may hold spaces and parentheses: the fields are counted
// after its closing one.
std::string StartTime(const std::string& pid) {
  const std::string stat = FirstLine("/proc/" + pid + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return "";
  std::istringstream rest(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
    if (i == 3 && (field == "Z" || field == "X")) return "";
    if (i == 22) return field;
  }
  return "";
}

std::vector<std::string> Split(const std::string& mark) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(mark);
  while (std::getline(in, part, kSeparator)) parts.push_back(part);
  return parts;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string MakeMark() {
  const std::string boot = FirstLine("/proc/sys/kernel/random/boot_id");
  const std::string pid = std::to_string(getpid()), start = StartTime(pid);
  const std::string host = HostName();
  if (boot.empty() || start.empty() || host.empty()) return "";
  const std::vector<std::string> parts = {MachineId(), host, boot, pid, start};
  std::string mark;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].find(kSeparator) != std::string::npos) return "";
    if (i > 0) mark += kSeparator;
    mark += parts[i];
  }
  return mark;
}

}  // namespace

const std::string& ThisProcessMark() {
  static const std::string kMark = MakeMark();
  return kMark;
}

bool ProcessIsGone(const std::string& mark) {
  const std::vector<std::string> here = Split(ThisProcessMark()), there = Split(mark);
  if (here.size() != 5 || there.size() != 5 || !AllDigits(there[3])) return false;
  // Another machine's processes cannot be seen from here.
  if (there[0] != here[0] || there[1] != here[1]) return false;
  if (there[2] != here[2]) return true;  // this machine started again since
  return StartTime(there[3]) != there[4];
}

}  // namespace dg::server
