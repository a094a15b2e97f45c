// Files opened through either sibling library, with their access and share
// modes, so that a second opener the first does not share with is refused
// as Windows refuses it, whichever library and whichever process of the
// machine each goes through. The opens live in the disc's shared segment
// (disc_segment.h).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

namespace quil::emulator {

inline constexpr uint32_t kAccessRead = 0x80000000u;
inline constexpr uint32_t kAccessWrite = 0x40000000u;
inline constexpr uint32_t kAccessDelete = 0x00010000u;
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;

class DiscSegment;

class QUIL_EMULATOR_API ShareRegistry {
 public:
  static ShareRegistry& instance();

  // Registers an open of `hostPath` on the disc in `discFolder`; 0 when it
  // conflicts with an open already registered on the same file by any
  // process (the caller then fails with a sharing violation), or when the
  // disc's table of opens is full.
  uint64_t acquire(const std::string& discFolder, const std::string& hostPath, uint32_t access, uint32_t share);
  void release(uint64_t token);
  // Whether the file is open without delete sharing anywhere; deleting or
  // renaming it is then refused.
  bool blocksDelete(const std::string& discFolder, const std::string& hostPath) const;
  // Whether another process has the file (nullptr: any file of the disc)
  // open for writing; this process's own opens are the library's to judge.
  bool writtenElsewhere(const std::string& discFolder, const std::string* hostPath) const;

 private:
  struct Held {
    DiscSegment* segment;
    uint32_t index;
  };
  mutable std::mutex mutex_;  // guards held_ and next_; the segment has locks of its own
  std::map<uint64_t, Held> held_;
  uint64_t next_ = 1;
};

}  // namespace quil::emulator
