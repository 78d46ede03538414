// The operator and journal commands of exp-appserver:
//
//   exp-appserver user add CODE --db DB --branches 0001,0002|* [--password-fd N]
//   exp-appserver user passwd CODE --db DB [--password-fd N]
//   exp-appserver user disable CODE --db DB
//   exp-appserver user list --db DB
//   exp-appserver journal --db DB [--grid N] [--branch CODE] [--operator CODE]
//                 [--since YYYY-MM-DD[THH:MM]] [--limit N]
//
// A password is read from the terminal (asked twice, not echoed), or, for
// scripts, as the first line of file descriptor N. It is never printed, and
// neither is its hash.
//
// Exit status: 0 done; 1 refused (unknown or existing operator, a password
// that is too short, the two typings differ); 2 bad arguments or no
// database.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace dg::server {

// `args` are the words after "user" / "journal".
int UserCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int JournalCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The first line of what file descriptor `fd` holds (its line end taken
// off). Throws Error when it cannot be read.
std::string ReadPasswordFromFd(int fd);

}  // namespace dg::server
