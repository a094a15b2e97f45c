// The reader library may keep only so many clip essence files open. The
// clip read manager lets callers hold any number of read handles on clips
// while at most maxOpen reader handles are open: each caller handle owns an
// entry that remembers how the file was opened and where the caller is, the
// least recently used reader handle is closed when the limit is reached, and
// a closed one is reopened transparently on the next access.
#pragma once

#include <cstdint>
#include <string>

#include "sibling/reader_library.h"

namespace quil::files {

inline constexpr uint32_t kClosedReaderHandle = 0xFFFFFFFFu;
inline constexpr uint32_t kExtraIsMeaningful = 0x00040000u;

struct ClipReadEntry {
  uint32_t readerHandle = kClosedReaderHandle;
  uint64_t position = 0;
  std::u16string path;
  uint32_t desiredAccess = 0;
  uint32_t shareMode = 0;
  uint32_t creationDisposition = 0;
  uint32_t flagsAndAttributes = 0;
  void* extra = nullptr;  // &extraValue when the flags have 0x00040000
  uint64_t extraValue = 0;
  int32_t lastCloseResult = 1;
  int32_t savedError = 0;
  std::u16string savedMessage;
  ClipReadEntry* next = nullptr;
  ClipReadEntry** backLink = nullptr;

  bool isOpen() const { return readerHandle != kClosedReaderHandle; }
};

class ClipReadManager {
 public:
  ClipReadManager(uint32_t maxOpen, int32_t readerVolume,
                  const quil::sibling::ReaderLibrary& reader = quil::sibling::readerLibrary());
  // Frees every entry without calling the reader: their handles are closed
  // with the handles that own them.
  ~ClipReadManager();
  ClipReadManager(const ClipReadManager&) = delete;
  ClipReadManager& operator=(const ClipReadManager&) = delete;

  // Opens a clip through the reader; null when the reader refuses (its last
  // error stands).
  ClipReadEntry* create(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition,
                        uint32_t flags, void* extra);
  // The entry's reader handle, reopening it when it was closed; 0xFFFFFFFF
  // when the reopen fails. Reopening does not change the entry's place.
  uint32_t getHandle(ClipReadEntry* entry);
  int32_t read(ClipReadEntry* entry, void* buffer, uint32_t count, uint32_t* done);
  int32_t setFilePointer(ClipReadEntry* entry, int64_t distance, int64_t* newPosition, uint32_t method);
  // Ends the entry; a failed earlier eviction close surfaces here with its
  // saved error.
  int32_t close(ClipReadEntry* entry);

  uint32_t maxOpen() const { return maxOpen_; }
  uint32_t openCount() const { return openCount_; }
  int32_t volume() const { return volume_; }
  const ClipReadEntry* head() const { return head_; }

 private:
  void makeRoom();
  void realClose(ClipReadEntry* entry);
  void append(ClipReadEntry* entry);
  void unlink(ClipReadEntry* entry);
  int32_t openReader(const ClipReadEntry& entry, void* extra, const char16_t* function, int32_t line);

  uint32_t maxOpen_;
  uint32_t openCount_ = 0;
  int32_t volume_;
  const quil::sibling::ReaderLibrary& reader_;
  ClipReadEntry* head_ = nullptr;
  ClipReadEntry** tailLink_ = &head_;
};

}  // namespace quil::files
