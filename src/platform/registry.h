// The registry stand-in: a file in the Windows ".reg" export format, read
// once. Only HKEY_LOCAL_MACHINE is kept, which is all the library reads.
// Key and value names compare without regard to ASCII case, as in the
// registry. A missing or unreadable file is an empty registry.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quil::platform {

class Registry {
 public:
  Registry() = default;

  // QUIL_REGISTRY when set and not empty, else /etc/quil/registry.reg.
  static std::string defaultPath();
  static Registry fromFile(const std::string& path);
  // What keeps a settings file from being read (it is then an empty
  // registry, and every default applies): nullopt when nothing does.
  static std::optional<std::string> problemOf(const std::string& path);
  // UTF-8 (with or without a byte-order mark) or UTF-16LE with its mark.
  static Registry fromText(std::string_view bytes);

  // Key paths are relative to HKEY_LOCAL_MACHINE, e.g. "SOFTWARE\Vendor".
  bool keyExists(std::u16string_view key) const;
  // Immediate subkey names, in the order they first appear in the file.
  std::vector<std::u16string> subkeyNames(std::u16string_view key) const;
  std::optional<uint32_t> readDword(std::u16string_view key, std::u16string_view name) const;
  // Fails, like a registry read into a fixed buffer, when the text and its
  // terminating NUL need more than bufferBytes bytes of UTF-16.
  std::optional<std::u16string> readString(std::u16string_view key, std::u16string_view name,
                                           size_t bufferBytes) const;

 private:
  struct Value {
    bool isDword = false;
    uint32_t dword = 0;
    std::u16string text;
  };
  struct Key {
    std::u16string displayPath;
    std::map<std::u16string, Value> values;  // by folded name
  };
  const Value* find(std::u16string_view key, std::u16string_view name) const;
  void parseLine(std::u16string_view line, std::u16string& currentKey, bool& skipping);

  std::map<std::u16string, Key> keys_;  // by folded path
  std::vector<std::u16string> order_;   // folded paths in file order
};

}  // namespace quil::platform
