// What is open on the volume: the handle table (caller handle numbers to
// handle records) and the open-file table (handle records grouped by the file
// they name, split into readers and writers), which create/open, delete,
// rename and attribute changes consult for their sharing rules.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/file_name_manage.h"

namespace quil::writer {
class WriterFile;  // the writer-side file object, owned by its handle record
}

namespace quil::files {

struct ClipReadEntry;
struct OpenFileStruct;

enum HandleType : uint32_t {
  kWriterFileNoRead = 0,  // writer file opened without read access
  kWriterFile = 1,        // writer file with read access; every user-data or general file
  kReaderFile = 2,
  kEnumeration = 3,
};

struct HandleRecord {
  uint32_t type = 0;
  // The target, by type: the writer file object (0, 1); the clip read entry
  // or the reader's file handle (2); the reader's enumeration handle (3).
  std::shared_ptr<quil::writer::WriterFile> writerFile;
  ClipReadEntry* clipEntry = nullptr;
  int32_t readerHandle = -1;
  OpenFileStruct* openFile = nullptr;
  uint32_t shareMode = 0;
  bool suspended = false;
  bool noSpace = false;
  int32_t suspendError = 0;
  std::u16string suspendMessage;
  bool written = false;
  bool deleteAccess = false;
  bool lockAtClose = false;
};

// Handle numbers start at 1 with each volume and are never reused within
// it. They never wrap: the last number handed out is 2,147,483,646, so that
// neither a negative number nor -1 ("no handle") ever comes out.
class HandleTable {
 public:
  explicit HandleTable(int32_t first = 1) : next_(first < 1 ? 1 : first) {}
  // A new zeroed record under the next number; the creator fills it.
  // {-1, nullptr} when the numbers have run out. Throws std::bad_alloc with
  // the table unchanged.
  std::pair<int32_t, HandleRecord*> add();
  HandleRecord* find(int32_t number) const;
  void erase(int32_t number);
  // Every record, in ascending handle order.
  const std::map<int32_t, std::unique_ptr<HandleRecord>>& records() const { return records_; }

 private:
  std::map<int32_t, std::unique_ptr<HandleRecord>> records_;
  int32_t next_;
};

enum CountMode : uint32_t { kReading = 0, kWriting = 1 };

struct OpenFileStruct {
  uint32_t openKind = 0;  // how the last handle was opened: 1 creating, 2 opening to write, 3 reading
  bool deletePending = false;
  FileNamePtr fileName;  // the first opener's path; its clipName is the key
  std::vector<HandleRecord*> readers;
  std::vector<HandleRecord*> writers;
  OpenFileStruct* next = nullptr;
  OpenFileStruct** backLink = nullptr;  // the pointer that points at this record

  // Removes the handle from the vector of the mode, keeping the order of the
  // others; traces a handle that is not there. True when no handle is left.
  bool decrement(uint32_t mode, HandleRecord* handle);
};

class OpenFileControl {
 public:
  explicit OpenFileControl(bool freeNaming);
  bool freeNaming() const { return freeNaming_; }
  ~OpenFileControl();
  OpenFileControl(const OpenFileControl&) = delete;
  OpenFileControl& operator=(const OpenFileControl&) = delete;

  // Counts the handle as reading (0) or writing (1) in the record of its
  // file, making the record if needed; other modes count nothing. None for
  // a path of kind None.
  OpenFileStruct* increment(uint32_t mode, const FileNamePtr& path, HandleRecord* handle);
  // Unlinks and frees a hash-table record (after its last handle went).
  void remove(OpenFileStruct* record);
  // With a path: that file has at least n handles of the mode. Without: the
  // handles of the mode over every file of the kind reach n.
  bool isOpen(uint32_t mode, uint32_t kind, const FileNameManage* path, uint32_t n) const;
  // True at the first reading handle that shares neither write nor delete
  // (share bits 2 and 4); otherwise appends every reading handle to out.
  bool collectReaders(std::vector<HandleRecord*>& out, uint32_t kind, const FileNameManage* path) const;
  HandleRecord* findHandle(uint32_t mode, uint32_t kind, const FileNameManage& path) const;
  // Marks a file that is open for writing to be deleted at its close.
  bool markDeletePending(const FileNameManage& path);

  // The record of a file in the table of its own kind, or null.
  OpenFileStruct* find(const FileNameManage& path) const { return findIn(path.fileKind(), path); }
  // The record under the path's clip name in the table of another kind: a
  // clip's essence and its metadata are asked about by the same name.
  OpenFileStruct* findIn(uint32_t kind, const FileNameManage& path) const;
  size_t bucketOf(uint32_t kind, const std::u16string& clipName) const;
  OpenFileStruct* bucketHead(uint32_t kind, size_t bucket) const;

 private:
  struct HashTable {
    std::vector<OpenFileStruct*> heads;
    uint32_t mask = 0;
    bool numberHash = false;
    // Records in the chains: a question about every file of the kind (is
    // any open for writing?) is asked at every open and mostly finds none,
    // so it need not visit hundreds of empty buckets.
    size_t records = 0;
  };
  const HashTable* tableOf(uint32_t kind) const;
  HashTable* tableOf(uint32_t kind);
  template <class F>
  void forEachRecord(uint32_t kind, F&& f) const;

  bool freeNaming_;
  OpenFileStruct fixed_[5];
  HashTable tables_[9];  // kinds 6 to 14
};

// The two hashes of the clip names.
uint32_t numberHash(const std::u16string& clipName);
uint32_t stringHash(const std::u16string& clipName);

}  // namespace quil::files
