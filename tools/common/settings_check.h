// Said once per process, on standard error, before a tool opens a disc:
// a settings file the library will not read (it then runs with every
// default), and a log folder it cannot create or write (its logs would be
// lost without a word).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "logging/log_settings.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "text/utf.h"

namespace quiltools {

inline void warnAboutSettingsAndLogs(const char* tool) {
  static bool said = false;
  if (said) return;
  said = true;
  using quil::platform::Registry;
  const std::string path = Registry::defaultPath();
  const char* env = std::getenv("QUIL_REGISTRY");
  const bool named = env != nullptr && *env != '\0';
  std::error_code ec;
  // Without QUIL_REGISTRY a missing /etc/quil/registry.reg only means "no settings".
  if (named || std::filesystem::exists(path, ec)) {
    if (const auto problem = Registry::problemOf(path)) {
      std::fprintf(stderr, "%s: the settings file %s%s %s: the library runs with its defaults\n", tool, path.c_str(),
                   named ? " (QUIL_REGISTRY)" : "", problem->c_str());
    }
  }
  const auto settings = QUILLogger::readLogSettings(Registry::fromFile(path), QUILLogger::kServiceRegistryKey,
                                                    QUILLogger::kServiceFolderTail,
                                                    quil::platform::programFilesFolder());
  if (settings.loggingOff) return;
  // The folder, or the nearest folder above it that exists, must let us in.
  std::filesystem::path folder(quil::toUtf8(settings.folder));
  std::filesystem::path existing = folder;
  while (!existing.empty() && !std::filesystem::exists(existing, ec)) existing = existing.parent_path();
  if (existing.empty()) existing = ".";
  if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    std::fprintf(stderr, "%s: the log folder %s cannot be %s (%s: %s): the library's logs are lost; name another "
                 "with LogFolder in the settings\n",
                 tool, folder.c_str(), existing == folder ? "written" : "created", existing.c_str(),
                 std::strerror(errno));
  }
}

}  // namespace quiltools
