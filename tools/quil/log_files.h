// Where the library writes its logs, found the way the library finds it:
// the LogFolder value of the settings key in the registry file
// (QUIL_REGISTRY, else /etc/quil/registry.reg), else the installation's
// folder below the program-files folder.
#pragma once

#include <string>
#include <vector>

namespace quiltool {

std::string logFolder();

// Today's newest log file (QUILSVC_<yyyymmdd>.log, then _2, _3, ...);
// empty when there is none.
std::string todaysLogFile();

// The last n lines of a file (all when it has fewer).
std::vector<std::string> lastLines(const std::string& path, size_t n);

// Every line of today's log files, oldest file first.
std::vector<std::string> todaysLogLines();

}  // namespace quiltool
