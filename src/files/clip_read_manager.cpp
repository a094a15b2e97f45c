#include "files/clip_read_manager.h"

#include <cstring>
#include <memory>

#include "logging/trace.h"

namespace quil::files {

namespace {
constexpr const char16_t* kSource = u"project/QUILCoreAPI/ClipReadManager";

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

const void* ptr(const void* p) { return p; }
}  // namespace

ClipReadManager::ClipReadManager(uint32_t maxOpen, int32_t readerVolume, const quil::sibling::ReaderLibrary& reader)
    : maxOpen_(maxOpen == 0 ? 1 : maxOpen), volume_(readerVolume), reader_(reader) {}

ClipReadManager::~ClipReadManager() {
  while (head_ != nullptr) {
    std::unique_ptr<ClipReadEntry> owned(head_);
    head_ = head_->next;
  }
}

void ClipReadManager::append(ClipReadEntry* entry) {
  entry->next = nullptr;
  entry->backLink = tailLink_;
  *tailLink_ = entry;
  tailLink_ = &entry->next;
}

void ClipReadManager::unlink(ClipReadEntry* entry) {
  *entry->backLink = entry->next;
  if (entry->next != nullptr) entry->next->backLink = entry->backLink;
  else tailLink_ = entry->backLink;
  entry->next = nullptr;
  entry->backLink = nullptr;
}

// `extra` is the caller's own pointer at the first open and the entry's
// stored copy at a reopen, when the caller's memory may be long gone.
int32_t ClipReadManager::openReader(const ClipReadEntry& e, void* extra, const char16_t* function, int32_t line) {
  trace(function, line, u"QUIL_CreateFile(%ld, \"%ls\", 0x%08X, 0x%08X, %p, 0x%08X, 0x%08X, %p)\n", volume_, e.path,
        e.desiredAccess, e.shareMode, ptr(nullptr), e.creationDisposition, e.flagsAndAttributes, ptr(extra));
  const int32_t handle = reader_.createFile(volume_, e.path.c_str(), e.desiredAccess, e.shareMode, nullptr,
                                            e.creationDisposition, e.flagsAndAttributes, extra);
  trace(function, line, u"QUIL_CreateFile return=%ld\n", handle);
  return handle;
}

void ClipReadManager::realClose(ClipReadEntry* entry) {
  constexpr auto fn = u"ClipReadManager::realClose";
  const auto handle = static_cast<int32_t>(entry->readerHandle);
  trace(fn, __LINE__, u"QUIL_CloseHandle(%ld)\n", handle);
  entry->lastCloseResult = reader_.closeHandle(handle);
  trace(fn, __LINE__, u"QUIL_CloseHandle return=%ld\n", entry->lastCloseResult);
  if (entry->lastCloseResult == 0) {
    char16_t buffer[256] = {};
    uint32_t length = 0;
    trace(fn, __LINE__, u"QUIL_GetLastErrorWithMessage(%p, %lu, %p)\n", ptr(buffer), 256u, ptr(&length));
    entry->savedError = reader_.getLastErrorWithMessage(buffer, 256, &length);
    buffer[255] = u'\0';
    trace(fn, __LINE__, u"QUIL_GetLastErrorWithMessage return=%ld (\"%.*s\", %lu)\n", entry->savedError, 256,
          static_cast<const char16_t*>(buffer), length);
    entry->savedMessage = buffer;
  }
  entry->readerHandle = kClosedReaderHandle;
  --openCount_;
}

void ClipReadManager::makeRoom() {
  if (openCount_ < maxOpen_) return;
  // The entry being opened is not counted yet, so it is never the one chosen.
  for (ClipReadEntry* e = head_; e != nullptr; e = e->next) {
    if (e->isOpen()) {
      realClose(e);
      return;
    }
  }
}

ClipReadEntry* ClipReadManager::create(const std::u16string& path, uint32_t access, uint32_t share,
                                       uint32_t disposition, uint32_t flags, void* extra) {
  auto entry = std::make_unique<ClipReadEntry>();
  entry->path = path;
  entry->desiredAccess = access;
  entry->shareMode = share;
  entry->creationDisposition = disposition;
  entry->flagsAndAttributes = flags;
  if ((flags & kExtraIsMeaningful) != 0 && extra != nullptr) {
    std::memcpy(&entry->extraValue, extra, sizeof entry->extraValue);
    entry->extra = &entry->extraValue;
  }
  const int32_t handle =
      openReader(*entry, (flags & kExtraIsMeaningful) != 0 ? extra : nullptr, u"ClipReadManager::create", __LINE__);
  if (handle == -1) return nullptr;
  makeRoom();
  entry->readerHandle = static_cast<uint32_t>(handle);
  ++openCount_;
  ClipReadEntry* raw = entry.release();  // owned by the list until close()
  append(raw);
  return raw;
}

uint32_t ClipReadManager::getHandle(ClipReadEntry* entry) {
  if (entry->isOpen()) return entry->readerHandle;
  const int32_t handle = openReader(*entry, entry->extra, u"ClipReadManager::getHandle", __LINE__);
  if (handle == -1) return kClosedReaderHandle;
  makeRoom();
  entry->readerHandle = static_cast<uint32_t>(handle);
  ++openCount_;
  return entry->readerHandle;
}

int32_t ClipReadManager::read(ClipReadEntry* entry, void* buffer, uint32_t count, uint32_t* done) {
  const uint32_t h = getHandle(entry);
  if (h == kClosedReaderHandle) return 0;
  const auto handle = static_cast<int32_t>(h);
  const auto position = static_cast<int64_t>(entry->position);
  trace(u"ClipReadManager::moveCurentPointer", __LINE__, u"QUIL_SetFilePointer(%ld, %lld, %p, 0x%08X)\n", handle,
        position, ptr(nullptr), 0u);
  const int32_t sought = reader_.setFilePointer(handle, position, nullptr, 0);
  trace(u"ClipReadManager::moveCurentPointer", __LINE__, u"QUIL_SetFilePointer return=%ld (NULL)\n", sought);
  if (sought == 0) return 0;
  uint32_t got = 0;
  trace(u"ClipReadManager::read", __LINE__, u"QUIL_ReadFile(%ld, %p, %lu, %p)\n", handle, buffer, count, ptr(&got));
  const int32_t result = reader_.readFile(handle, buffer, count, &got);
  trace(u"ClipReadManager::read", __LINE__, u"QUIL_ReadFile return=%ld (%lu)\n", result, got);
  if (done != nullptr) *done = got;
  if (result != 0) entry->position += got;
  // The most recently used entry goes to the end, away from eviction.
  if (entry->next != nullptr) {
    unlink(entry);
    append(entry);
  }
  return result;
}

int32_t ClipReadManager::setFilePointer(ClipReadEntry* entry, int64_t distance, int64_t* newPosition,
                                        uint32_t method) {
  const uint32_t h = getHandle(entry);
  if (h == kClosedReaderHandle) return 0;
  const auto handle = static_cast<int32_t>(h);
  // The reader's own position may belong to an earlier opening of the file:
  // a move from the current position is made from the start instead.
  if (method == 1) {
    distance += static_cast<int64_t>(entry->position);
    method = 0;
  }
  int64_t position = 0;
  constexpr auto fn = u"ClipReadManager::setFilePointer";
  trace(fn, __LINE__, u"QUIL_SetFilePointer(%ld, %lld, %p, 0x%08X)\n", handle, distance, ptr(&position), method);
  const int32_t result = reader_.setFilePointer(handle, distance, &position, method);
  trace(fn, __LINE__, u"QUIL_SetFilePointer return=%ld (%lld)\n", result, position);
  if (result != 0) {
    entry->position = static_cast<uint64_t>(position);
    if (newPosition != nullptr) *newPosition = position;
  }
  return result;
}

int32_t ClipReadManager::close(ClipReadEntry* entry) {
  if (entry->isOpen()) {
    realClose(entry);
  } else if (entry->lastCloseResult == 0) {
    // The eviction close failed earlier: its error is this close's error.
    reader_.setLastErrorWithMessage(entry->savedError, entry->savedMessage.c_str());
  }
  const int32_t result = entry->lastCloseResult;
  unlink(entry);
  std::unique_ptr<ClipReadEntry> owned(entry);
  return result;
}

}  // namespace quil::files
