#include "logging/log_file_manager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstdlib>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>

#include "logging/line_appender.h"
#include "platform/folder_watch.h"
#include "platform/host.h"
#include "platform/interprocess_mutex.h"
#include "platform/registry.h"
#include "quil/platform_error.h"
#include "text/format.h"
#include "text/utf.h"

namespace QUILLogger {

namespace {

constexpr size_t kSegmentSize = 4096;  // see docs/ARCHITECTURE.md: 256 bytes cannot hold Boost's segment index
constexpr const char* kSizeTableName = "QUIL_Logger_FileSizes64";
constexpr size_t kSizeEntries = 24;  // files written at once by all processes before entries are reused
constexpr size_t kEntryWords = 4;    // device, inode, size, claim order
constexpr const char* kDebugAppenderName = "QUIL_OutputDebugStringAppender";
constexpr std::u16string_view kUninstallKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::u16string_view kProductName = u"Merrow TALVO Drive Software";

// Keeps both error values of the thread (the Windows-style one and errno)
// across a stored line, so that a trace call never disturbs the error the
// caller is about to report.
class ThreadErrorKeeper {
 public:
  ThreadErrorKeeper() : windowsError_(QUILPlatform_GetLastError()), errno_(errno) {}
  ~ThreadErrorKeeper() {
    QUILPlatform_SetLastError(windowsError_);
    errno = errno_;
  }
  ThreadErrorKeeper(const ThreadErrorKeeper&) = delete;
  ThreadErrorKeeper& operator=(const ThreadErrorKeeper&) = delete;

 private:
  uint32_t windowsError_;
  int errno_;
};

// Keeps an object alive for the whole process, destructor never run.
template <class T>
class NoDestructor {
 public:
  template <class... A>
  explicit NoDestructor(A&&... a) {
    new (storage_) T(std::forward<A>(a)...);
  }
  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

std::shared_ptr<LogFileManager>& processInstance() {
  static NoDestructor<std::shared_ptr<LogFileManager>> holder;
  return *holder.get();
}

void detachAtExit() {
  if (auto& m = processInstance()) m->detachAppenders();
}

uint32_t secondOfDay(const quil::platform::LocalTime& t) { return t.hour * 3600u + t.minute * 60u + t.second; }

enum class FileState { kMissing, kSmallEnough, kTooLarge };

// A file-system error while testing existence counts as existing, one while
// reading the size as too large, so that doubt always leads to a new file.
FileState fileState(const std::string& path, uint32_t maxSize) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? FileState::kMissing : FileState::kTooLarge;
  return static_cast<uint64_t>(st.st_size) > maxSize ? FileState::kTooLarge : FileState::kSmallEnough;
}

}  // namespace

StartupOptions StartupOptions::fromEnvironment() {
  StartupOptions o;
  o.registryPath = quil::platform::Registry::defaultPath();
  o.programFilesFolder = quil::platform::programFilesFolder();
  return o;
}

LogFileManager::LogFileManager(StartupOptions options) : options_(std::move(options)) {}

LogFileManager::~LogFileManager() { detachAppenders(); }

bool LogFileManager::isEnabled() const { return (logLevel_ & 0xF0000000u) == 0; }
bool LogFileManager::isFileOutput() const { return true; }
bool LogFileManager::isDebugOutput() const { return (logLevel_ & 0x1000000u) != 0; }

std::shared_ptr<LogFileManager> LogFileManager::instance() {
  static std::once_flag once;
  std::call_once(once, [] {
    processInstance() = LogFileManagerSVC::start(StartupOptions::fromEnvironment());
    std::atexit(detachAtExit);
  });
  return processInstance();
}

std::u16string LogFileManager::currentLogName() const {
  std::lock_guard<std::mutex> lock(currentMutex_);
  return current_->info.logName;
}

std::string LogFileManager::hostPath(std::u16string_view logName) const {
  return quil::toUtf8(folder_) + quil::toUtf8(logName);
}

void LogFileManager::startLogging() {
  if (!isEnabled() || loggingOff_) return;
  logger_ = log4cxx::Logger::getLogger(options_.loggerName);
  // Our lines are not the host program's: keep them out of its root appenders.
  logger_->setAdditivity(false);
  layout_ = std::make_shared<log4cxx::PatternLayout>(LOG4CXX_STR("%m%n"));
  if (isDebugOutput() && !logger_->getAppender(kDebugAppenderName)) {
    auto debug = quil::logging::LineAppender::debugOutput();
    debug->setLayout(layout_);
    debug->setName(kDebugAppenderName);
    logger_->addAppender(debug);
  }
  if (rotationMutex_) {
    sizeTable_ = rotationMutex_->sharedWords(kSizeTableName, 1 + kSizeEntries * kEntryWords);
    quil::platform::InterprocessLock lock(*rotationMutex_);
    removeOldFiles();
  } else {
    removeOldFiles();
  }
  started_ = true;
}

void LogFileManager::detachAppenders() {
  if (detached_.exchange(true)) return;
  if (!logger_) return;
  std::unique_lock<std::shared_mutex> guard(appenderGuard_);
  const std::u16string name = currentLogName();
  for (const std::string& n : {quil::toUtf8(name), std::string(kDebugAppenderName)}) {
    if (n.empty()) continue;
    if (auto appender = logger_->getAppender(n)) {
      logger_->removeAppender(appender);
      appender->close();  // removal alone leaves the file open
    }
  }
  // The watch thread runs this library's code: it must not outlive an
  // unload. Lines take the guard's shared side before they look at it.
  watch_.reset();
}

LogFileSet LogFileManager::listFolder() const {
  LogFileSet files;
  const std::string folder = folder_.empty() ? std::string(".") : quil::toUtf8(folder_);
  std::vector<std::string> names;
  // A listing cut short counts as none: nothing is removed on half a view.
  if (!quil::platform::fileNamesIn(folder, names)) return files;
  for (const auto& name : names) {
    LogFileInfo info = parseLogFileName(quil::fromUtf8(name), filePrefix_);
    if (info.valid) files.insert(std::move(info));
  }
  return files;
}

LogFileInfo LogFileManager::nextFile(const quil::platform::LocalTime& time) const {
  const std::u16string today = dateKeyOf(time);
  uint32_t m = 0;
  for (const auto& f : listFolder()) {
    if (f.dateKey == today && f.index > m) m = f.index;
  }
  LogFileInfo candidate = makeLogFileInfo(filePrefix_, today, m);
  if (fileState(hostPath(candidate.logName), maxLogFileSize_) == FileState::kTooLarge) {
    candidate = makeLogFileInfo(filePrefix_, today, std::max<uint32_t>(m, 1) + 1);
  }
  return candidate;
}

bool LogFileManager::entryIsFor(const CurrentFile& current) const {
  const std::atomic<uint64_t>* e = current.sizeEntry;
  return e != nullptr && e[0].load(std::memory_order_acquire) == current.device &&
         e[1].load(std::memory_order_acquire) == current.inode;
}

bool LogFileManager::needsSwitch(const CurrentFile& current, const quil::platform::LocalTime& time) const {
  if (current.info.logName.empty()) return true;
  if (current.year != time.year || current.month != time.month || current.day != time.day) return true;
  // Nothing removed or renamed in the folder since the file was last seen
  // there, and its size counted by every process that appends to it: the
  // line goes out without a question to the file system.
  // Once a second the file is asked all the same: writers that count into
  // no table of ours (another segment, a private /dev/shm) and removals no
  // notification tells of (a network folder) are noticed within a second.
  const bool watching = watch_ && watch_->watching();
  const uint64_t events = watching ? watch_->events() : 0;
  const bool counted = entryIsFor(current);
  const uint32_t second = secondOfDay(time);
  if (watching && counted && events == current.checkedEvents.load(std::memory_order_relaxed) &&
      second == current.checkedSecond.load(std::memory_order_relaxed)) {
    return current.sizeEntry[2].load(std::memory_order_acquire) > maxLogFileSize_;
  }
  // Otherwise ask the open descriptor: a file removed from outside has no
  // link left, and the size is the file's own whoever appended to it. A
  // state that cannot be read counts as too large.
  quil::logging::OpenFileState state;
  if (!current.appender || !current.appender->fileState(state)) return true;
  if (state.removed) return true;
  if (counted) {
    // Bytes appended by something that does not count them (another
    // segment, a process that died between its write and its count).
    uint64_t seen = current.sizeEntry[2].load(std::memory_order_relaxed);
    while (seen < state.size && !current.sizeEntry[2].compare_exchange_weak(seen, state.size)) {
    }
    if (watching) current.checkedEvents.store(events, std::memory_order_relaxed);
    current.checkedSecond.store(second, std::memory_order_relaxed);
  }
  return state.size > maxLogFileSize_;
}

std::atomic<uint64_t>* LogFileManager::claimSizeEntry(uint64_t device, uint64_t inode, uint64_t size) {
  if (sizeTable_ == nullptr) return nullptr;
  // Called under the rotation mutex, so claims never race each other; the
  // lines of other processes read the entries meanwhile, and one that reads
  // an entry half rewritten sees a device or inode not its own and asks its
  // file instead.
  std::atomic<uint64_t>* entries = sizeTable_ + 1;
  std::atomic<uint64_t>* chosen = nullptr;
  for (size_t i = 0; i < kSizeEntries; ++i) {
    std::atomic<uint64_t>* e = entries + i * kEntryWords;
    if (e[0].load() == device && e[1].load() == inode) {
      chosen = e;
      break;
    }
    if (chosen == nullptr || e[3].load() < chosen[3].load()) chosen = e;  // the longest unclaimed
  }
  if (chosen[0].load() != device || chosen[1].load() != inode) {
    chosen[0].store(0);
    chosen[1].store(0);  // no reader takes the entry for its file while it changes hands
    chosen[2].store(size);
    chosen[0].store(device);
    chosen[1].store(inode);
  } else {
    // The file's size as this process read it, unless others have counted
    // more since: a count too high only moves on a line early.
    uint64_t seen = chosen[2].load();
    while (seen < size && !chosen[2].compare_exchange_weak(seen, size)) {
    }
  }
  chosen[3].store(sizeTable_[0].fetch_add(1) + 1);
  return chosen;
}

std::shared_ptr<quil::logging::LineAppender> LogFileManager::openFile(const LogFileInfo& file,
                                                                      std::u16string_view header, bool& created) {
  created = false;
  const std::string name = quil::toUtf8(file.logName);
  if (auto existing = std::dynamic_pointer_cast<quil::logging::LineAppender>(logger_->getAppender(name))) {
    return existing;
  }
  const std::string path = hostPath(file.logName);
  // Appending: another process may already have started the file.
  auto appender = quil::logging::LineAppender::appendingTo(path, quil::toUtf8(header), &created);
  if (!appender) return nullptr;  // lines are lost until a later switch succeeds
  appender->setLayout(layout_);
  appender->setName(name);
  logger_->addAppender(appender);
  appender->grantUsersReadWrite();  // failures leave the file usable as it is
  return appender;
}

void LogFileManager::removeOldFiles() {
  const LogFileSet files = listFolder();
  if (files.size() <= maxLogFileNum_) return;
  size_t excess = files.size() - maxLogFileNum_;
  for (auto it = files.begin(); it != files.end() && excess > 0; ++it, --excess) {
    quil::platform::removeFile(hostPath(it->logName));  // a failed deletion is retried at the next switch
  }
}

std::u16string LogFileManager::headerLine(const quil::platform::LocalTime& time) const {
  return quil::format(u"#Date=%hu/%02hu/%02hu, Source=%ls, Version=%ls", time.year, time.month, time.day, source_,
                      version_);
}

void LogFileManager::switchFile(uint64_t seenGeneration, const quil::platform::LocalTime& time) {
  std::unique_lock<std::shared_mutex> guard(appenderGuard_);
  std::unique_ptr<quil::platform::InterprocessLock> lock;
  if (rotationMutex_) lock = std::make_unique<quil::platform::InterprocessLock>(*rotationMutex_);
  // Another thread switched meanwhile: its file is the one to use. After
  // a detach nothing is opened any more.
  if (current_->generation != seenGeneration || detached_.load()) return;
  const CurrentFile& seen = *current_;
  // The folder is watched before it is looked at, so that a removal after
  // this point is always told to the next line.
  boost::system::error_code ec;
  if (!folder_.empty()) boost::filesystem::create_directories(quil::toUtf8(folder_), ec);
  // The watch (and its thread) comes with the first file, not with the
  // manager: a process that never stores a line runs no thread for it.
  if (options_.watchFolder && !watch_) watch_ = std::make_unique<quil::platform::FolderWatch>();
  uint64_t events = 0;
  if (watch_ && watch_->watch(folder_.empty() ? std::string(".") : quil::toUtf8(folder_))) events = watch_->events();
  const LogFileInfo next = nextFile(time);
  // The old appender goes even when the name stays: a file removed from
  // outside must be opened anew, not written through the old descriptor.
  if (!seen.info.logName.empty()) {
    if (auto old = logger_->getAppender(quil::toUtf8(seen.info.logName))) {
      logger_->removeAppender(old);
      old->close();
    }
  }
  bool created = false;
  const std::u16string header = headerLine(time);
  auto now = std::make_shared<CurrentFile>();
  now->generation = seen.generation + 1;
  now->appender = openFile(next, header, created);
  now->info = next;
  now->year = time.year;
  now->month = time.month;
  now->day = time.day;
  quil::logging::OpenFileState state;
  if (now->appender && now->appender->fileState(state)) {
    now->device = state.device;
    now->inode = state.inode;
    now->sizeEntry = claimSizeEntry(state.device, state.inode, state.size);
    now->appender->countInto(now->sizeEntry != nullptr ? &now->sizeEntry[2] : nullptr);
  }
  now->checkedEvents.store(events, std::memory_order_relaxed);
  now->checkedSecond.store(secondOfDay(time), std::memory_order_relaxed);
  removeOldFiles();
  // The new file holds its header already; the line still goes to the
  // logger for every other appender (the debugger output).
  if (created) doWriteLog(header);
  std::lock_guard<std::mutex> currentLock(currentMutex_);
  current_ = std::move(now);
}

bool LogFileManager::linesSkipFileChecks() const {
  std::shared_lock<std::shared_mutex> guard(appenderGuard_);
  return watch_ && watch_->watching() && entryIsFor(*current_);
}

uint64_t LogFileManager::folderEvents() const {
  std::shared_lock<std::shared_mutex> guard(appenderGuard_);
  return watch_ ? watch_->events() : 0;
}

void LogFileManager::writeLine(const quil::platform::LocalTime& time, std::u16string_view line) {
  ThreadErrorKeeper keeper;
  if (!started_ || detached_.load()) return;
  try {
    uint64_t seenGeneration = 0;
    {
      // current_ changes only under the exclusive side of the guard.
      std::shared_lock<std::shared_mutex> guard(appenderGuard_);
      if (detached_.load()) return;
      if (!needsSwitch(*current_, time)) {
        doWriteLog(line);
        return;
      }
      seenGeneration = current_->generation;
    }
    switchFile(seenGeneration, time);
    std::shared_lock<std::shared_mutex> guard(appenderGuard_);
    doWriteLog(line);
  } catch (...) {
    // Logging must never take the caller down; a line that cannot be stored is lost.
  }
}

void LogFileManager::doWriteLog(std::u16string_view line) {
  if (!logger_ || detached_.load()) return;
  const log4cxx::LevelPtr& level = log4cxx::Level::getError();
  if (!logger_->isEnabledFor(level)) return;
  // The LogString is UTF-8 here; handing it over as it is keeps non-ASCII
  // text intact whatever the C locale says.
  std::string utf8;
  utf8.reserve(line.size() + 8);
  quil::appendUtf8(utf8, line);
  logger_->forcedLogLS(level, utf8, log4cxx::spi::LocationInfo::getLocationUnavailable());
}

std::shared_ptr<LogFileManager> LogFileManagerSVC::start(StartupOptions options) {
  std::unique_ptr<quil::platform::NamedInterprocessMutex> mutex;
  try {
    mutex = std::make_unique<quil::platform::NamedInterprocessMutex>(options.segmentName, kSegmentSize,
                                                                     options.mutexName);
  } catch (...) {
    // Without shared memory the process still logs; only the cross-process
    // serialisation of rotation is lost.
  }
  auto manager = std::make_shared<LogFileManagerSVC>(Key{}, std::move(options));
  manager->rotationMutex_ = std::move(mutex);
  try {
    manager->loadSettings();
    manager->startLogging();
  } catch (...) {
    manager->started_ = false;
  }
  return manager;
}

void LogFileManagerSVC::loadSettings() {
  const auto registry = quil::platform::Registry::fromFile(options_.registryPath);
  lookUpVersion(registry);
  readSettings(registry);
}

void LogFileManagerSVC::lookUpVersion(const quil::platform::Registry& registry) {
  for (const auto& sub : registry.subkeyNames(kUninstallKey)) {
    const std::u16string key = std::u16string(kUninstallKey) + u"\\" + sub;
    const auto name = registry.readString(key, u"DisplayName", 520);
    if (!name || *name != kProductName) continue;
    if (const auto version = registry.readString(key, u"DisplayVersion", 128)) {
      version_ = *version;
      return;
    }
  }
}

void LogFileManagerSVC::readSettings(const quil::platform::Registry& registry) {
  const LogSettings settings = readLogSettings(registry, registryKey_, defaultFolderTail_, options_.programFilesFolder);
  folder_ = settings.folder;
  if (!settings.keyFound) return;
  logLevel_ = settings.logLevel;
  loggingOff_ = settings.loggingOff;
  if (loggingOff_) return;  // nothing else is read, nothing is ever written
  maxLogFileNum_ = settings.maxLogFileNum;
  maxLogFileSize_ = settings.maxLogFileSize;
}

bool LogFileManagerSVC::isLevelEnabled(uint32_t level, uint32_t flag) const {
  const uint32_t l = logLevel_;
  uint32_t effective = l & 0xFu;
  if (flag == 0) {
    const uint32_t extra = (l >> 8) & 0xFu;
    if (extra > effective) effective = extra;
    if ((l & 0xF000u) != 0 && writerCallMode() == 0) return true;
  }
  if (effective == 0) return false;
  return level == 1 ? effective >= 2 : effective >= 1;
}

}  // namespace QUILLogger
