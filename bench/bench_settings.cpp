#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ratio_reporter.h"

namespace quilbench {

void useTemporarySettings(unsigned logLevel, const std::string& folder) {
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/registry.reg";
  char level[16];
  std::snprintf(level, sizeof level, "%08x", logLevel);
  std::ofstream(path) << "Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n"
                      << "\"LogLevel\"=dword:" << level << "\n\"LogFolder\"=\"" << folder << "/log\"\n";
  setenv("QUIL_REGISTRY", path.c_str(), 1);
}

}  // namespace quilbench
