#include "names.h"

#include <ctime>

#include <algorithm>

namespace quilfs {

std::optional<std::u16string> volumePathOf(std::string_view mountPath) {
  auto path = utf16Of(mountPath);
  if (!path || path->find(u'\\') != std::u16string::npos) return std::nullopt;
  std::replace(path->begin(), path->end(), u'/', u'\\');
  if (path->empty() || path->front() != u'\\') path->insert(path->begin(), u'\\');
  // The kernel never sends a trailing slash but for the root.
  while (path->size() > 1 && path->back() == u'\\') path->pop_back();
  return path;
}

std::u16string_view lastName(std::u16string_view path) {
  const size_t cut = path.find_last_of(u'\\');
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

namespace {

char16_t folded(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// The first name below the root, and what follows it.
std::u16string_view topName(std::u16string_view path, std::u16string_view* rest) {
  if (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  const size_t cut = path.find(u'\\');
  if (rest != nullptr) *rest = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(cut + 1);
  return cut == std::u16string_view::npos ? path : path.substr(0, cut);
}

bool endsWithFolded(std::u16string_view name, std::u16string_view suffix) {
  return name.size() > suffix.size() && sameName(name.substr(name.size() - suffix.size()), suffix);
}

}  // namespace

bool sameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return folded(x) == folded(y); });
}

std::u16string foldedPath(std::u16string_view path) {
  std::u16string out(path);
  for (char16_t& c : out) c = folded(c);
  return out;
}

bool isAtOrBelow(std::u16string_view path, std::u16string_view folder) {
  if (folder == u"\\") return true;
  if (path.size() < folder.size() || !sameName(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == u'\\';
}

bool isUserArea(std::u16string_view path) {
  std::u16string_view rest;
  const std::u16string_view top = topName(path, &rest);
  return !rest.empty() && (sameName(top, u"USERDATA") || sameName(top, u"GENERAL"));
}

bool isRecordedEssence(std::u16string_view path) {
  std::u16string_view rest;
  const std::u16string_view top = topName(path, &rest);
  return !rest.empty() && rest.find(u'\\') == std::u16string_view::npos &&
         (sameName(top, u"CLIP") || sameName(top, u"COMPONENT")) && endsWithFolded(rest, u".MXF");
}

struct timespec timespecOf(const QUIL_SYSTEMTIME& t) {
  struct tm parts {};
  parts.tm_year = t.wYear - 1900;
  parts.tm_mon = t.wMonth - 1;
  parts.tm_mday = t.wDay;
  parts.tm_hour = t.wHour;
  parts.tm_min = t.wMinute;
  parts.tm_sec = t.wSecond;
  struct timespec out {};
  if (t.wYear == 0) return out;
  out.tv_sec = timegm(&parts);
  out.tv_nsec = static_cast<long>(t.wMilliseconds % 1000) * 1000000L;
  return out;
}

int64_t fileTimeOf(const struct timespec& t) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  return (static_cast<int64_t>(t.tv_sec) + kSecondsFrom1601To1970) * 10000000LL + t.tv_nsec / 100;
}

struct timespec now() {
  struct timespec t {};
  clock_gettime(CLOCK_REALTIME, &t);
  return t;
}

bool later(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace quilfs
