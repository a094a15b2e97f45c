#include "reader_core.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>

#include "quil/emulator_control.h"
#include "share_registry.h"
#include "text/format.h"

namespace quil::emulator::reader {

void fail(int32_t code, std::u16string message, uint32_t windowsError) {
  throw Failure{code, std::move(message), windowsError};
}

uint32_t windowsErrorOfErrno(int error, uint32_t fallback) {
  switch (error) {
    case ENOENT:
      return kWinFileNotFound;
    case ENOTDIR:
      return kWinPathNotFound;
    case EACCES:
    case EPERM:
      return kWinAccessDenied;
    case EEXIST:
      return kWinFileExists;
    case ENOSPC:
      return kWinDiskFull;
    case EROFS:
      return kWinWriteProtect;
    case EMFILE:
    case ENFILE:
      return 4;  // too many open files
    case ENAMETOOLONG:
      return 206;
    case ELOOP:  // a link below the disc folder, refused as a name the disc cannot hold
      return kWinInvalidName;
    default:
      return fallback;
  }
}

void failRefusedPath(std::u16string_view path, bool throughLink, bool userArea) {
  fail(kInvalidFilename,
       std::u16string(path) +
           (throughLink ? u" passes through a link, which a disc cannot hold" : u" is not a name the disc can hold"),
       windowsErrorFor(userArea, kWinInvalidName));
}

namespace {

bool endsWith(std::u16string_view s, std::u16string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// C0001M01.XML: the clip's non-real-time metadata.
bool isClipMetadataName(std::u16string_view folded) {
  return folded.size() > 8 && endsWith(folded, u".XML") && folded[folded.size() - 7] == u'M';
}

}  // namespace

PathFacts describePath(std::u16string_view volumePath) {
  PathFacts facts;
  size_t start = 0;
  while (start <= volumePath.size()) {
    size_t end = volumePath.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = volumePath.size();
    if (end > start) facts.components.emplace_back(volumePath.substr(start, end - start));
    start = end + 1;
  }
  if (facts.components.empty()) return facts;

  const std::u16string first = foldName(facts.components.front());
  const std::u16string last = foldName(facts.components.back());
  const size_t depth = facts.components.size();
  facts.userArea = first == u"USERDATA" || first == u"GENERAL";
  facts.writableArea = facts.userArea && depth >= 2;
  if (depth == 1) {
    if (first == u"INDEX.XML") facts.family = 1;
    if (first == u"DISCMETA.XML") facts.family = 2;
    if (first == u"ALIAS.XML") facts.family = 3, facts.rootAlias = true;
  } else if (first == u"CLIP") {
    if (depth == 2 && last.size() > 4 && endsWith(last, u".MXF")) {
      facts.clipEssence = true;
      facts.clipName = facts.components.back().substr(0, last.size() - 4);
      facts.family = 8;
    } else if (isClipMetadataName(last)) {
      facts.family = 6;
    }
  } else if (first == u"EDIT") {
    facts.family = 5;
  } else if (first == u"SUB") {
    facts.family = 10;
  }
  return facts;
}

std::u16string PathFacts::text() const {
  if (components.empty()) return u"\\";
  std::u16string out;
  for (const auto& c : components) out += u"\\" + c;
  return out;
}

std::u16string PathFacts::parentText() const {
  std::u16string out;
  for (size_t i = 0; i + 1 < components.size(); ++i) out += u"\\" + components[i];
  return out.empty() ? u"\\" : out;
}

OpenFile::~OpenFile() {
  if (fd >= 0) ::close(fd);
  if (shareToken != 0) ShareRegistry::instance().release(shareToken);
}

Tables& Tables::instance() {
  // Never destroyed: open files release their share tokens in another
  // library's registry, which may already be gone at process exit.
  static Tables* tables = new Tables;
  return *tables;
}

template <class Map>
int32_t Tables::issue(Map& map, int32_t& next) {
  // Numbers start at 1, go up and wrap past the largest; a number still in
  // use is never handed out twice.
  for (;;) {
    const int32_t id = next;
    next = next == INT32_MAX ? 1 : next + 1;
    if (map.find(id) == map.end()) return id;
  }
}

std::shared_ptr<Volume> Tables::volume(int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = volumes_.find(id);
  if (it == volumes_.end()) fail(kInvalidHandle, quil::format(u"no reader volume %ld is open", id));
  return it->second;
}

std::shared_ptr<OpenFile> Tables::file(int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = files_.find(id);
  if (it == files_.end()) fail(kInvalidHandle, quil::format(u"no reader file %ld is open", id));
  return it->second;
}

int32_t Tables::addVolume(std::shared_ptr<Volume> v) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int32_t id = issue(volumes_, nextVolume_);
  v->id = id;
  volumes_.emplace(id, std::move(v));
  return id;
}

int32_t Tables::addFile(std::shared_ptr<OpenFile> f) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int32_t id = issue(files_, nextFile_);
  files_.emplace(id, std::move(f));
  return id;
}

int32_t Tables::addEnumeration(std::unique_ptr<Enumeration> e) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int32_t id = issue(enumerations_, nextEnumeration_);
  enumerations_.emplace(id, std::move(e));
  return id;
}

bool Tables::removeFile(int32_t id) {
  std::shared_ptr<OpenFile> closing;  // released after the lock: closing may take a while
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = files_.find(id);
  if (it == files_.end()) return false;
  closing = std::move(it->second);
  files_.erase(it);
  return true;
}

bool Tables::removeEnumeration(int32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return enumerations_.erase(id) != 0;
}

bool Tables::removeVolume(int32_t id) {
  std::vector<std::shared_ptr<OpenFile>> closing;
  std::lock_guard<std::mutex> lock(mutex_);
  if (volumes_.erase(id) == 0) return false;
  for (auto it = files_.begin(); it != files_.end();) {
    if (it->second->volume->id == id) {
      closing.push_back(std::move(it->second));
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(enumerations_, [id](const auto& e) { return e.second->volumeId == id; });
  return true;
}

std::shared_ptr<const std::vector<uint8_t>> Tables::virtualAlias(const Volume& v) {
  std::lock_guard<std::mutex> lock(mutex_);
  return v.virtualAlias;
}

void Tables::setVirtualAlias(Volume& v, std::shared_ptr<const std::vector<uint8_t>> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  v.virtualAlias = std::move(bytes);
}

void applyInjectedFault(const char* function) {
  Fault fault;
  if (!takeFault(function, fault)) return;
  const std::u16string name = fromUtf8(function);
  switch (fault.kind) {
    case FaultKind::kReaderError:
      fail(fault.readerCode, fault.message);
    case FaultKind::kWindowsError:
      fail(kInternal,
           fault.message.empty() ? quil::format(u"%ls failed with Windows error %lu", name, fault.windowsError)
                                 : fault.message,
           fault.windowsError);
    case FaultKind::kStandardException:
      throw std::runtime_error(fault.message.empty() ? "injected failure" : toUtf8(fault.message));
    case FaultKind::kNonStandardObject:
      throw fault.kind;  // deliberately not a std::exception
    case FaultKind::kWriterException:
      break;
  }
  // A writer exception means nothing to the reader: it fails as any
  // unexplained internal error would.
  fail(kInternal, fault.message.empty() ? name + u" failed" : fault.message);
}

void report(const Failure& failure) noexcept {
  try {
    QUIL_SetLastErrorWithMessage(failure.code, failure.message.c_str());
  } catch (...) {
    QUIL_SetLastErrorWithMessage(failure.code, u"");
  }
  if (failure.windowsError != 0) QUILReaderLastError::QUILLastErrorManager::set(failure.windowsError);
}

std::u16string_view textArgument(const QUILCHAR* text, const char16_t* what) {
  if (text == nullptr) fail(kInvalidParameter, std::u16string(what) + u" is NULL");
  return std::u16string_view(text);
}

void copyOut(std::u16string_view text, QUILCHAR* buffer, uint32_t length, uint32_t* lengthOut, const char16_t* what) {
  const size_t needed = text.size() + 1;
  if (lengthOut != nullptr) *lengthOut = static_cast<uint32_t>(needed);
  if (buffer != nullptr && length != 0) {
    const size_t n = std::min<size_t>(text.size(), length - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
  }
  if (buffer == nullptr || length < needed) {
    fail(kInvalidParameter, quil::format(u"the %ls needs %lu characters with its terminating NUL, the buffer holds %lu",
                                         what, static_cast<uint32_t>(needed), buffer == nullptr ? 0u : length));
  }
}

}  // namespace quil::emulator::reader
