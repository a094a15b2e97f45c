// Files opened through either sibling library, with their access and share
// modes, so that a second opener the first does not share with is refused
// as Windows refuses it, whichever library each goes through.
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

class QUIL_EMULATOR_API ShareRegistry {
 public:
  static ShareRegistry& instance();

  // Registers an open; 0 when it conflicts with an open already registered
  // on the same host path (the caller then fails with a sharing violation).
  uint64_t acquire(const std::string& hostPath, uint32_t access, uint32_t share);
  void release(uint64_t token);
  // Whether the file is open at all; deleting or renaming it is then refused
  // unless every opener shares delete.
  bool blocksDelete(const std::string& hostPath) const;
  bool isOpen(const std::string& hostPath) const;

 private:
  struct Open {
    std::string path;
    uint32_t access;
    uint32_t share;
  };
  mutable std::mutex mutex_;
  std::map<uint64_t, Open> opens_;
  uint64_t next_ = 1;
};

}  // namespace quil::emulator
