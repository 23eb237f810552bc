// Checks of what the setup program leaves on a Wine machine: the failure
// log, the spooler's printer, the status monitor captions and the INF copy.
#pragma once

#include <set>
#include <string>

namespace kxwine {

// The names OEMn.INF taken in the Windows INF directory now.
std::set<std::string> TakenOemInfs();

// The first OEMn.INF name not in `taken`.
std::string FirstFreeOemInf(const std::set<std::string>& taken);

// WIN.INI of the system directory holds "AddMonitor" with 87 (what Wine's
// spooler answers to a monitor with an empty name), and an entry for no
// other operation unless the spooler's state shows that operation failed.
void ExpectFailureLogMatchesSpooler();

// The four captions as EUC-KR bytes with their terminating zero.
void ExpectStatusMonitorCaptions();

// `inf_name` in the Windows INF directory holds `source_inf` with CR LF
// line ends.
void ExpectInfCopied(const std::string& inf_name, const std::string& source_inf);

}  // namespace kxwine
