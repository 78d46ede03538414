// Which process on which machine holds a desktop's work, and whether that
// process is gone.
//
// A desktop host runs the server in its own process: the grids it writes
// are held by that process alone while its screen is open. The mark of a
// process names the machine (its machine id and host name), the machine's
// boot (the kernel's boot id) and the process (its id and start time, so a
// reused process id is another process). Only a mark of this same machine
// can be judged: its boot is over, or its process no longer runs. A mark of
// another machine, or one this machine cannot read (no /proc), is never
// judged gone.
#pragma once

#include <string>

namespace dg::server {

// This process's mark, "" where the machine does not tell enough.
const std::string& ThisProcessMark();

// Whether the process `mark` names is known to be gone (see above).
bool ProcessIsGone(const std::string& mark);

}  // namespace dg::server
