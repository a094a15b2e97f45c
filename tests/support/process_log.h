// The process's own log, for tests that check what the library traced. The
// log manager reads its settings at the first trace line of the process, so
// the registry must name a folder of the test's own before anything runs:
// linking process_log.cpp installs a GoogleTest environment that does that
// (LogLevel 2, every line written).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quiltest {

// The folder the process's log files go to.
const std::filesystem::path& processLogFolder();

// Every line of every log file in that folder, oldest file first, headers
// included.
std::vector<std::string> processLogLines();

}  // namespace quiltest
