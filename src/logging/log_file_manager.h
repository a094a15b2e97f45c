// Everything behind a finished trace line: the settings, the log folder, the
// daily and size-limited log files with their header line, removal of the
// oldest files, the debugger output, and the cross-process lock that keeps
// several processes from rotating the same files at the same time.
//
// One manager serves a process (instance()); tests build their own with
// LogFileManagerSVC::start and options of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "logging/log_file_name.h"
#include "logging/log_settings.h"
#include "platform/local_time.h"

namespace log4cxx {
class Logger;
class Layout;
}  // namespace log4cxx

namespace quil::logging {
class LineAppender;
}

namespace quil::platform {
class FolderWatch;
class NamedInterprocessMutex;
class Registry;
}  // namespace quil::platform

namespace QUILLogger {

// Where a manager takes its configuration from. fromEnvironment() gives the
// process's own: the registry file, the program-files folder, the logger
// "QUIL_LOGGER" and the shared segment of every process.
struct StartupOptions {
  std::string registryPath;
  std::string programFilesFolder;
  std::string loggerName = "QUIL_LOGGER";
  std::string segmentName = "boost_interprocess_QUIL_Logger64";
  std::string mutexName = "QUIL_Logger_Mutex64";
  // Removals from the log folder are learnt from the kernel's notifications
  // rather than by asking the open file before every line. Off, or when the
  // notifications cannot be had, every line asks.
  bool watchFolder = true;
  static StartupOptions fromEnvironment();
};

class LogFileManager {
 public:
  virtual void loadSettings() = 0;
  virtual bool isEnabled() const;
  virtual bool isFileOutput() const;
  virtual bool isDebugOutput() const;
  virtual ~LogFileManager();
  virtual bool isLevelEnabled(uint32_t level, uint32_t flag) const = 0;

  LogFileManager(const LogFileManager&) = delete;
  LogFileManager& operator=(const LogFileManager&) = delete;

  // The process's manager, started on the first call (exactly once, also
  // under concurrent first calls). It is never destroyed: trace calls may
  // come from other objects' destructors at exit. An exit handler detaches
  // its appenders instead.
  static std::shared_ptr<LogFileManager> instance();

  // Stores one finished line, switching files first when the day changed,
  // the file grew past the size limit or was removed. Never fails towards
  // the caller; the thread's error values are the same afterwards.
  void writeLine(const quil::platform::LocalTime& time, std::u16string_view line);

  // Hands one line to the logger (an ERROR event) when the logger takes it.
  void doWriteLog(std::u16string_view line);

  void setWriterCallMode(uint32_t mode) { writerCallMode_.store(mode, std::memory_order_relaxed); }
  uint32_t writerCallMode() const { return writerCallMode_.load(std::memory_order_relaxed); }

  // Detaches and closes this manager's appenders; later lines are dropped.
  void detachAppenders();

  uint32_t logLevel() const { return logLevel_; }
  uint32_t maxLogFileNum() const { return maxLogFileNum_; }
  uint32_t maxLogFileSize() const { return maxLogFileSize_; }
  const std::u16string& folder() const { return folder_; }
  const std::u16string& version() const { return version_; }
  std::u16string currentLogName() const;

  // The folder's recognised log files, oldest first (empty when it cannot be listed).
  LogFileSet listFolder() const;

  // Whether a line can be stored without asking the file system about the
  // current file: the folder is watched and the file's size is counted in
  // the segment every process shares.
  bool linesSkipFileChecks() const;
  // Removals and renames seen in the log folder so far (0 without a watch):
  // a change tells that the next line looks at its file again.
  uint64_t folderEvents() const;

 protected:
  explicit LogFileManager(StartupOptions options);

  // Runs the start-up steps after the settings: logger, layout, debugger
  // output, removal of old files. Called once by the creator.
  void startLogging();

  StartupOptions options_;
  std::u16string folder_;  // ends with '/' once settings are loaded
  uint32_t maxLogFileNum_ = 32;
  uint32_t logLevel_ = 1;
  uint32_t maxLogFileSize_ = 0xA00000;
  std::u16string source_ = u"QUILSVC";
  std::u16string version_;
  std::atomic<uint32_t> writerCallMode_{1};
  std::u16string registryKey_{kServiceRegistryKey};
  std::u16string defaultFolderTail_{kServiceFolderTail};
  std::u16string filePrefix_{kServiceFilePrefix};

 private:
  LogFileInfo nextFile(const quil::platform::LocalTime& time) const;
  struct CurrentFile {
    LogFileInfo info;
    uint16_t year = 0, month = 0, day = 0;  // the day of info.dateKey, for a cheap comparison
    uint64_t generation = 0;                // one more at every switch
    std::shared_ptr<quil::logging::LineAppender> appender;
    uint64_t device = 0, inode = 0;
    // The file's entry in the shared size table (device, inode, size,
    // claim order), or null when its size must be asked of the file.
    std::atomic<uint64_t>* sizeEntry = nullptr;
    // The folder's removal count when the file was last known to be there,
    // and the second of the day it was last asked about.
    mutable std::atomic<uint64_t> checkedEvents{0};
    mutable std::atomic<uint32_t> checkedSecond{0};
  };
  bool needsSwitch(const CurrentFile& current, const quil::platform::LocalTime& time) const;
  bool entryIsFor(const CurrentFile& current) const;
  std::atomic<uint64_t>* claimSizeEntry(uint64_t device, uint64_t inode, uint64_t size);
  void switchFile(uint64_t seenGeneration, const quil::platform::LocalTime& time);
  std::shared_ptr<quil::logging::LineAppender> openFile(const LogFileInfo& file, std::u16string_view header,
                                                        bool& created);
  void removeOldFiles();
  std::u16string headerLine(const quil::platform::LocalTime& time) const;
  std::string hostPath(std::u16string_view logName) const;

  std::unique_ptr<quil::platform::NamedInterprocessMutex> rotationMutex_;
  // The size of every process's current file, in the segment of the mutex:
  // word 0 counts claims, then one entry of four words per file. Null
  // without the segment.
  std::atomic<uint64_t>* sizeTable_ = nullptr;
  std::unique_ptr<quil::platform::FolderWatch> watch_;
  std::shared_ptr<log4cxx::Logger> logger_;
  std::shared_ptr<log4cxx::Layout> layout_;
  bool started_ = false;
  bool loggingOff_ = false;  // the registry turned logging off
  std::atomic<bool> detached_{false};

  // The file now written, replaced whole at a switch, under both the
  // exclusive side of appenderGuard_ and currentMutex_: a line reads it
  // under the shared side, other readers under the mutex.
  mutable std::mutex currentMutex_;
  std::shared_ptr<const CurrentFile> current_ = std::make_shared<const CurrentFile>();
  // Lines are appended under the shared side; a switch takes the exclusive
  // side so that no thread appends to an appender being closed.
  mutable std::shared_mutex appenderGuard_;

  friend class LogFileManagerSVC;
};

// The service configuration, the only kind the library instantiates.
class LogFileManagerSVC final : public LogFileManager {
 public:
  // Builds a manager, opens the shared mutex, loads the settings and starts
  // logging when it is enabled.
  static std::shared_ptr<LogFileManager> start(StartupOptions options);

  void loadSettings() override;
  bool isLevelEnabled(uint32_t level, uint32_t flag) const override;

 private:
  struct Key {};  // only start() builds managers

 public:
  LogFileManagerSVC(Key, StartupOptions options) : LogFileManager(std::move(options)) {}

 private:
  void lookUpVersion(const quil::platform::Registry& registry);
  void readSettings(const quil::platform::Registry& registry);
};

}  // namespace QUILLogger
