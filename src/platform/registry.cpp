#include "platform/registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "text/utf.h"

namespace quil::platform {

namespace {

constexpr std::u16string_view kMachineRoot = u"HKEY_LOCAL_MACHINE";

std::u16string fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return out;
}

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t' || s.front() == u'\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t' || s.back() == u'\r')) s.remove_suffix(1);
  return s;
}

std::u16string trimSlashes(std::u16string_view s) {
  while (!s.empty() && s.front() == u'\\') s.remove_prefix(1);
  while (!s.empty() && s.back() == u'\\') s.remove_suffix(1);
  return std::u16string(s);
}

// Reads a quoted string starting at s[pos] == '"'; on success pos is past the
// closing quote.
std::optional<std::u16string> readQuoted(std::u16string_view s, size_t& pos) {
  if (pos >= s.size() || s[pos] != u'"') return std::nullopt;
  std::u16string out;
  for (size_t i = pos + 1; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 1 < s.size()) {
      out.push_back(s[++i]);
    } else if (s[i] == u'"') {
      pos = i + 1;
      return out;
    } else {
      out.push_back(s[i]);
    }
  }
  return std::nullopt;
}

std::optional<uint32_t> parseHex32(std::u16string_view s) {
  s = trim(s);
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char16_t c : s) {
    v <<= 4;
    if (c >= u'0' && c <= u'9') v |= static_cast<uint32_t>(c - u'0');
    else if (c >= u'a' && c <= u'f') v |= static_cast<uint32_t>(c - u'a' + 10);
    else if (c >= u'A' && c <= u'F') v |= static_cast<uint32_t>(c - u'A' + 10);
    else return std::nullopt;
  }
  return v;
}

std::u16string decode(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return fromUtf8(bytes);
}

}  // namespace

std::string Registry::defaultPath() {
  const char* env = std::getenv("QUIL_REGISTRY");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string("/etc/quil/registry.reg");
}

Registry Registry::fromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Registry();
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return fromText(bytes);
}

std::optional<std::string> Registry::problemOf(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return "does not exist";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot be read";
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::u16string text = decode(bytes);
  const std::u16string_view first = trim(std::u16string_view(text).substr(0, text.find(u'\n')));
  if (first != u"Windows Registry Editor Version 5.00" && first != u"REGEDIT4") {
    return "is not a registry export: its first line is not \"Windows Registry Editor Version 5.00\"";
  }
  return std::nullopt;
}

Registry Registry::fromText(std::string_view bytes) {
  Registry reg;
  const std::u16string text = decode(bytes);
  std::u16string currentKey;
  bool skipping = true;  // nothing counts before the first section
  std::u16string pending;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string_view line = trim(std::u16string_view(text).substr(start, end - start));
    // A trailing backslash continues a value (hex data) on the next line.
    if (!line.empty() && line.back() == u'\\' && line.front() != u'[') {
      pending.append(line.substr(0, line.size() - 1));
    } else {
      pending.append(line);
      reg.parseLine(pending, currentKey, skipping);
      pending.clear();
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return reg;
}

void Registry::parseLine(std::u16string_view line, std::u16string& currentKey, bool& skipping) {
  if (line.empty() || line.front() == u';') return;
  if (line.front() == u'[') {
    const size_t close = line.rfind(u']');
    std::u16string_view path = line.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1);
    skipping = true;
    if (!path.empty() && path.front() == u'-') return;  // a deletion section removes, it does not define
    const std::u16string folded = fold(path);
    if (folded.compare(0, kMachineRoot.size(), kMachineRoot) != 0) return;
    if (folded.size() > kMachineRoot.size() && folded[kMachineRoot.size()] != u'\\') return;
    const std::u16string rel = trimSlashes(path.substr(std::min(path.size(), kMachineRoot.size())));
    currentKey = fold(rel);
    if (keys_.find(currentKey) == keys_.end()) {
      keys_[currentKey].displayPath = rel;
      order_.push_back(currentKey);
    }
    skipping = false;
    return;
  }
  if (skipping) return;
  std::u16string name;
  size_t pos = 0;
  if (line.front() == u'@') {
    pos = 1;
  } else {
    auto quoted = readQuoted(line, pos);
    if (!quoted) return;
    name = *quoted;
  }
  while (pos < line.size() && line[pos] == u' ') ++pos;
  if (pos >= line.size() || line[pos] != u'=') return;
  ++pos;
  while (pos < line.size() && line[pos] == u' ') ++pos;
  const std::u16string_view data = line.substr(pos);
  Value value;
  if (!data.empty() && data.front() == u'"') {
    size_t p = 0;
    auto text = readQuoted(data, p);
    if (!text) return;
    value.text = *text;
  } else if (fold(data.substr(0, 6)) == u"DWORD:") {
    auto v = parseHex32(data.substr(6));
    if (!v) return;
    value.isDword = true;
    value.dword = *v;
  } else {
    return;  // deletions ("-") and binary forms are not values this library reads
  }
  keys_[currentKey].values[fold(name)] = std::move(value);
}

bool Registry::keyExists(std::u16string_view key) const {
  const std::u16string k = fold(trimSlashes(key));
  if (keys_.count(k) != 0) return true;
  // A parent of a defined key exists too.
  const std::u16string prefix = k + u"\\";
  for (const auto& p : order_) {
    if (p.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::vector<std::u16string> Registry::subkeyNames(std::u16string_view key) const {
  const std::u16string k = fold(trimSlashes(key));
  const std::u16string prefix = k.empty() ? std::u16string() : k + u"\\";
  std::vector<std::u16string> names;
  std::vector<std::u16string> seen;
  for (const auto& p : order_) {
    if (p.size() <= prefix.size() || p.compare(0, prefix.size(), prefix) != 0) continue;
    const size_t nameEnd = p.find(u'\\', prefix.size());
    const std::u16string folded = p.substr(prefix.size(), nameEnd - prefix.size());
    bool known = false;
    for (const auto& s : seen) known = known || s == folded;
    if (known) continue;
    seen.push_back(folded);
    const std::u16string& display = keys_.at(p).displayPath;
    names.push_back(display.substr(prefix.size(), nameEnd == std::u16string::npos ? std::u16string::npos : nameEnd - prefix.size()));
  }
  return names;
}

const Registry::Value* Registry::find(std::u16string_view key, std::u16string_view name) const {
  const auto k = keys_.find(fold(trimSlashes(key)));
  if (k == keys_.end()) return nullptr;
  const auto v = k->second.values.find(fold(name));
  return v == k->second.values.end() ? nullptr : &v->second;
}

std::optional<uint32_t> Registry::readDword(std::u16string_view key, std::u16string_view name) const {
  const Value* v = find(key, name);
  if (v == nullptr || !v->isDword) return std::nullopt;
  return v->dword;
}

std::optional<std::u16string> Registry::readString(std::u16string_view key, std::u16string_view name,
                                                   size_t bufferBytes) const {
  const Value* v = find(key, name);
  if (v == nullptr || v->isDword) return std::nullopt;
  if ((v->text.size() + 1) * sizeof(char16_t) > bufferBytes) return std::nullopt;
  return v->text;
}

}  // namespace quil::platform
