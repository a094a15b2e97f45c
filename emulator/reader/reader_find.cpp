// Listing a folder of the disc: FindFirstFile, FindNextFile and FindClose.
// The last component of the pattern holds the wildcards; the folder before
// it resolves as any volume path does. The entries are taken when the
// listing starts, sorted by name as the medium's directories are, so that a
// change during a listing shows in the next one.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#include "folder_names.h"
#include "reader_core.h"
#include "text/format.h"

using namespace quil::emulator;
using namespace quil::emulator::reader;

namespace {

constexpr size_t kNameUnits = sizeof(QUIL_FIND_DATA::name) / sizeof(QUILCHAR);

// * matches any run of characters, ? exactly one; both sides are folded.
bool matches(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0;
  size_t n = 0;
  size_t starP = std::u16string_view::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// The DOS rules Windows keeps: a name without a dot matches as if it ended
// in one ("abc" is found by "abc.*" and by "*."), and question marks at the
// end of the pattern may match nothing ("abc?" finds "abc").
bool matchesLikeWindows(std::u16string_view pattern, std::u16string_view name) {
  if (matches(pattern, name)) return true;
  if (name.find(u'.') == std::u16string_view::npos && matches(pattern, std::u16string(name) + u".")) return true;
  while (!pattern.empty() && pattern.back() == u'?') {
    pattern.remove_suffix(1);
    if (matches(pattern, name)) return true;
  }
  return false;
}

// Times as FindFirstFileW gives them: UTC. The host has no creation time;
// the change time comes closest.
QUIL_SYSTEMTIME systemTime(const struct timespec& ts) {
  struct tm parts {};
  const time_t seconds = ts.tv_sec;
  gmtime_r(&seconds, &parts);
  QUIL_SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(parts.tm_year + 1900);
  t.wMonth = static_cast<uint16_t>(parts.tm_mon + 1);
  t.wDayOfWeek = static_cast<uint16_t>(parts.tm_wday);
  t.wDay = static_cast<uint16_t>(parts.tm_mday);
  t.wHour = static_cast<uint16_t>(parts.tm_hour);
  t.wMinute = static_cast<uint16_t>(parts.tm_min);
  t.wSecond = static_cast<uint16_t>(parts.tm_sec);
  t.wMilliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return t;
}

std::vector<FoundEntry> sortedByName(std::vector<std::pair<std::u16string, FoundEntry>> found) {
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<FoundEntry> out;
  out.reserve(found.size());
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

// "*.*" has always meant every name, with or without a dot.
std::u16string foldedPattern(std::u16string_view pattern) {
  return pattern == u"*.*" ? std::u16string(u"*") : foldName(pattern);
}

// A folder of an image: the entries as the image holds them, every one with
// the image file's time (the image gives no times of its own here).
std::vector<FoundEntry> listImage(DiscImage& image, const ImageLocation& folder, std::u16string_view pattern,
                                  const std::shared_ptr<const std::vector<uint8_t>>& virtualAlias, bool atRoot) {
  const std::u16string folded = foldedPattern(pattern);
  const QUIL_SYSTEMTIME time = systemTime(image.modified());
  std::vector<std::pair<std::u16string, FoundEntry>> found;
  for (const ImageEntry& e : image.entries(folder)) {
    if (e.name.size() > kMaxNameUnits || !matchesLikeWindows(folded, e.folded)) continue;
    FoundEntry entry;
    entry.name = e.name;
    entry.attributes = e.directory ? 0x10u : 0x80u;
    entry.created = entry.accessed = entry.written = time;
    entry.size = e.directory ? 0 : e.size;
    if (atRoot && virtualAlias && e.folded == u"ALIAS.XML") entry.size = static_cast<int64_t>(virtualAlias->size());
    found.emplace_back(e.folded, std::move(entry));
  }
  return sortedByName(std::move(found));
}

// The entries of `folder`, the descriptor the path's resolution reached the
// folder by (never through a link), whose fstat gave folderStatus; they are
// examined relative to it.
std::vector<FoundEntry> list(int folder, const struct stat& folderStatus, std::u16string_view pattern,
                             const std::shared_ptr<const std::vector<uint8_t>>& virtualAlias, bool atRoot) {
  const std::u16string folded = foldedPattern(pattern);
  std::vector<std::pair<std::u16string, FoundEntry>> found;
  // A pattern without wildcards names its entries: they come from the
  // folder's name index, and the folder is not read for them.
  const bool exact = folded.find_first_of(u"*?") == std::u16string::npos && !folded.empty() && folded.back() != u'.';
  std::unique_ptr<DIR, int (*)(DIR*)> dir(nullptr, closedir);
  if (!exact) {
    // A stream needs the folder opened for reading; "." below it is the folder itself.
    Descriptor readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!readable) return {};
    dir.reset(fdopendir(readable.get()));
    if (!dir) return {};
    readable.release();
  }
  std::vector<std::string> named;
  if (exact) named = namesFolding(folder, quil::toUtf8(folded), &folderStatus);
  size_t nextNamed = 0;
  const auto nextName = [&]() -> const char* {
    if (exact) return nextNamed < named.size() ? named[nextNamed++].c_str() : nullptr;
    const dirent* e = readdir(dir.get());
    return e != nullptr ? e->d_name : nullptr;
  };
  while (const char* entryName = nextName()) {
    FoundEntry entry;
    entry.name = quil::fromUtf8(entryName);
    // ".", "..", the emulator's own files and anything else the medium
    // could not hold are not part of the disc; nor is a name longer than a
    // listing record carries (made outside the emulator): it is left out
    // rather than handed out cut.
    if (!nameAllowed(entry.name) || entry.name.size() > kMaxNameUnits) continue;
    std::u16string key = foldName(entry.name);
    if (!matchesLikeWindows(folded, key)) continue;
    struct stat st {};
    if (::fstatat(folder, entryName, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    // A link is no part of a disc: it is never shown, nor what it points at.
    if (S_ISLNK(st.st_mode)) continue;
    const bool directory = S_ISDIR(st.st_mode);
    entry.attributes = (directory ? 0x10u : 0u) | ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? 0x01u : 0u);
    if (entry.attributes == 0) entry.attributes = 0x80;
    entry.created = systemTime(st.st_ctim);
    entry.accessed = systemTime(st.st_atim);
    entry.written = systemTime(st.st_mtim);
    entry.size = directory ? 0 : static_cast<int64_t>(st.st_size);
    if (atRoot && virtualAlias && key == u"ALIAS.XML") entry.size = static_cast<int64_t>(virtualAlias->size());
    found.emplace_back(std::move(key), std::move(entry));
  }
  return sortedByName(std::move(found));
}

// The record's name field holds 64 units: a name of 64 has no terminating
// NUL, a shorter one is terminated (longer ones are never listed).
void fill(const FoundEntry& e, QUIL_FIND_DATA* data) {
  std::memset(data, 0, sizeof *data);
  std::copy_n(e.name.data(), std::min(e.name.size(), kNameUnits), data->name);
  data->attributes = e.attributes;
  data->time1 = e.created;
  data->time2 = e.accessed;
  data->time3 = e.written;
  data->size = e.size;
}

}  // namespace

extern "C" {

int32_t QUIL_FindFirstFile(int32_t volume, const QUILCHAR* pattern, QUIL_FIND_DATA* findData) {
  return guarded("QUIL_FindFirstFile", -1, [&] {
    Tables& tables = Tables::instance();
    const auto v = tables.volume(volume);
    const std::u16string_view text = textArgument(pattern, u"the pattern");
    if (findData == nullptr) fail(kInvalidParameter, u"the find record is NULL");
    const size_t cut = text.find_last_of(u"\\/");
    const std::u16string_view folderPart =
        cut == std::u16string_view::npos ? std::u16string_view() : text.substr(0, cut);
    const std::u16string_view namePart = cut == std::u16string_view::npos ? text : text.substr(cut + 1);
    const PathFacts facts = describePath(text);
    const bool user = facts.userArea;

    const auto noFolder = [&] {
      fail(kNotFound, u"the folder " + std::u16string(folderPart) + u" does not exist",
           windowsErrorFor(user, kWinPathNotFound));
    };
    const bool atRoot = describePath(folderPart).components.empty();
    auto e = std::make_unique<Enumeration>();
    e->volumeId = v->id;
    e->userArea = user;
    if (v->image) {
      const auto folder = v->image->locate(folderPart);
      if (!folder) failRefusedPath(folderPart, false, user);
      if (!folder->exists || !folder->directory) noFolder();
      if (!namePart.empty()) e->entries = listImage(*v->image, *folder, namePart, tables.virtualAlias(*v), atRoot);
    } else {
      bool throughLink = false;
      Descriptor held;
      const auto folder = resolvePath(v->folder, folderPart, &throughLink, &held);
      if (!folder) failRefusedPath(folderPart, throughLink, user);
      if (!folder->exists || !folder->isDirectory) noFolder();
      if (!namePart.empty() && held) {
        e->entries = list(held.get(), folder->status, namePart, tables.virtualAlias(*v), atRoot);
      }
    }
    if (e->entries.empty()) {
      fail(kNotFound, u"nothing matches " + std::u16string(text), windowsErrorFor(user, kWinFileNotFound));
    }
    fill(e->entries.front(), findData);
    e->next = 1;
    return tables.addEnumeration(std::move(e));
  });
}

int32_t QUIL_FindNextFile(int32_t find, QUIL_FIND_DATA* findData) {
  return guarded("QUIL_FindNextFile", 0, [&] {
    bool delivered = false;
    bool user = false;
    const bool known = Tables::instance().withEnumeration(find, [&](Enumeration& e) {
      user = e.userArea;
      if (findData == nullptr || e.next >= e.entries.size()) return;
      fill(e.entries[e.next++], findData);
      delivered = true;
    });
    if (!known) fail(kInvalidHandle, quil::format(u"no reader enumeration %ld is open", find));
    if (findData == nullptr) fail(kInvalidParameter, u"the find record is NULL");
    if (!delivered) fail(kNotFound, u"the listing has no more entries", windowsErrorFor(user, kWinNoMoreFiles));
    return 1;
  });
}

int32_t QUIL_FindClose(int32_t find) {
  return guarded("QUIL_FindClose", 0, [&] {
    if (!Tables::instance().removeEnumeration(find)) {
      fail(kInvalidHandle, quil::format(u"no reader enumeration %ld is open", find));
    }
    return 1;
  });
}

}  // extern "C"
