// quil demo: a whole session on a fresh disc, for a first look at what the
// library does and what it logs.
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "commands.h"
#include "disc.h"
#include "log_files.h"

namespace quiltool {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRead = 0x80000000u;
constexpr uint32_t kWrite = 0x40000000u;

uint64_t fnv1a(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string pattern(size_t size) {
  std::string out(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : out) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

void writeWhole(const std::u16string& path, uint32_t disposition, const std::string& bytes) {
  OpenFile file(path, kWrite, 0, disposition);
  for (size_t at = 0; at < bytes.size();) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1u << 20, bytes.size() - at));
    uint32_t written = 0;
    if (QUILAPI_WriteFile(file.handle(), bytes.data() + at, n, &written) == 0 || written != n) {
      libraryFailure(narrow(path));
    }
    at += n;
  }
  file.close();
}

std::string readWhole(const std::u16string& path) {
  OpenFile file(path, kRead, 1, 3);
  std::string out;
  std::string buffer(1u << 20, '\0');
  for (;;) {
    uint32_t read = 0;
    if (QUILAPI_ReadFile(file.handle(), buffer.data(), static_cast<uint32_t>(buffer.size()), &read) == 0) {
      libraryFailure(narrow(path));
    }
    if (read == 0) break;
    out.append(buffer.data(), read);
  }
  file.close();
  return out;
}

void step(const char* text) { std::printf("== %s\n", text); }

}  // namespace

int demo(const std::string& root) {
  const bool temporary = root.empty();
  const fs::path base =
      temporary ? fs::temp_directory_path() / ("quil-demo-" + std::to_string(getpid())) : fs::path(root);
  const fs::path discFolder = base / "disc";
  // Without settings of the user's own, the demo logs into its folder.
  const char* registry = std::getenv("QUIL_REGISTRY");
  if ((registry == nullptr || *registry == '\0') && !fs::exists("/etc/quil/registry.reg")) {
    fs::create_directories(base / "log");
    const fs::path reg = base / "registry.reg";
    std::ofstream(reg) << "Windows Registry Editor Version 5.00\n\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n"
                          "\"LogLevel\"=dword:00000001\n"
                       << "\"LogFolder\"=\"" << (base / "log").string() << "\"\n";
    setenv("QUIL_REGISTRY", reg.c_str(), 1);
  }
  const size_t logMark = todaysLogLines().size();

  step(("formatting a disc in " + discFolder.string()).c_str());
  quil::emulator::MediumDescription medium;
  medium.capacity = 1ull << 30;
  medium.label = u"DEMO";
  if (const std::string error = quil::emulator::formatDisc(discFolder.string(), medium); !error.empty()) {
    throw Failure("quil: " + discFolder.string() + ": " + error, kLibraryFailure);
  }
  {
    OpenVolume volume(DiscChoice{"", discFolder.string()});
    std::printf("volume open as %s\n", narrow(volume.rootPath()).c_str());

    step("recording \\CLIP\\C0001.MXF and writing \\USERDATA\\notes.txt");
    const std::string clip = pattern(3u << 20);
    const std::string notes = "Recorded by quil demo.\n";
    writeWhole(u"\\CLIP\\C0001.MXF", 1, clip);
    writeWhole(u"\\USERDATA\\notes.txt", 2, notes);

    step("listing the disc");
    for (const char16_t* folder : {u"\\*", u"\\CLIP\\*", u"\\USERDATA\\*"}) {
      FindData entry{};
      const int32_t find = QUILAPI_FindFirstFile(0, folder, &entry);
      if (find == -1) libraryFailure(narrow(folder));
      do {
        const std::u16string name(entry.name, std::find(entry.name, entry.name + 64, u'\0'));
        std::printf("  %s%s %lld\n", narrow(std::u16string(folder).substr(0, std::u16string(folder).size() - 1)).c_str(),
                    narrow(name).c_str(), static_cast<long long>(entry.size));
      } while (QUILAPI_FindNextFile(find, &entry) != 0);
      QUILAPI_FindClose(find);
    }

    step("reading both back");
    for (const auto& [path, expected] : {std::pair<std::u16string, std::string>{u"\\CLIP\\C0001.MXF", clip},
                                         {u"\\USERDATA\\notes.txt", notes}}) {
      const std::string back = readWhole(path);
      std::printf("  %s: %zu bytes, checksum 0x%016llx, %s\n", narrow(path).c_str(), back.size(),
                  static_cast<unsigned long long>(fnv1a(back)), back == expected ? "verified" : "DIFFERENT");
      if (back != expected) throw Failure("quil: " + narrow(path) + ": read back differs", kLibraryFailure);
    }

    step("renaming, deleting, labelling");
    if (QUILAPI_MoveFile(0, u"\\USERDATA\\notes.txt", u"\\USERDATA\\kept.txt") == 0) libraryFailure("rename");
    if (QUILAPI_DeleteFile(0, u"\\USERDATA\\kept.txt") == 0) libraryFailure("delete");
    if (QUILAPI_SetVolumeLabel(0, u"QUIL DEMO", 32) == 0) libraryFailure("label");
    volume.close();
    std::printf("volume closed\n");
  }

  step("operation-log lines of this session");
  const auto lines = todaysLogLines();
  for (size_t i = logMark; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.size() > 3 && l[0] == '[' && l[1] >= '1' && l[1] <= '3' && l[2] == ']') std::printf("  %s\n", l.c_str());
  }
  if (temporary) {
    std::error_code ec;
    fs::remove_all(base, ec);
  }
  return kOk;
}

}  // namespace quiltool
