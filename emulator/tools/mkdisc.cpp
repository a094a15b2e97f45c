// quil-mkdisc: makes a fresh, empty emulated disc in a folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../core/disc.h"
#include "text/utf.h"

namespace {

void usage(FILE* out) {
  std::fputs(
      "usage: quil-mkdisc DIR [options]\n"
      "\n"
      "Makes a fresh, empty emulated disc in DIR (created if needed; must be empty):\n"
      "the five root XML files, CLIP, SUB, COMPONENT, EDIT, USERDATA, GENERAL, KELDA,\n"
      "and a hidden description of the medium.\n"
      "\n"
      "options:\n"
      "  --medium C          medium type letter as the driver reports it (default S)\n"
      "  --write-once        a write-once (R) medium\n"
      "  --not-writable      the drive reports the medium as not writable\n"
      "  --capacity SIZE     capacity in bytes, or with K, M, G or T (default 50G)\n"
      "  --label TEXT        volume label (default empty)\n"
      "  --firmware NNNN     drive firmware revision, four digits (default 0100)\n"
      "  --23mode-check-failed  the medium fails the 2.3-mode check\n"
      "  --clip-limit SIZE   longest clip the drive records, as bytes of essence (default none)\n"
      "  --help              this text\n"
      "\n"
      "To reach the disc as drive E:, link it in the drive folder:\n"
      "  ln -s DIR \"${QUIL_DRIVES:-/var/lib/quil/drives}/e:\"\n",
      out);
}

bool parseSize(const char* text, uint64_t& out) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (end == text) return false;
  uint64_t scale = 1;
  if (*end != '\0') {
    switch (*end) {
      case 'K': case 'k': scale = 1ull << 10; break;
      case 'M': case 'm': scale = 1ull << 20; break;
      case 'G': case 'g': scale = 1ull << 30; break;
      case 'T': case 't': scale = 1ull << 40; break;
      default: return false;
    }
    if (end[1] != '\0') return false;
  }
  out = v * scale;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  quil::emulator::MediumDescription medium;
  const char* dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "quil-mkdisc: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    } else if (a == "--medium") {
      const char* v = value("--medium");
      if (std::strlen(v) != 1) {
        std::fprintf(stderr, "quil-mkdisc: --medium takes one letter\n");
        return 2;
      }
      medium.mediumType = v[0];
    } else if (a == "--write-once") {
      medium.writeOnce = true;
    } else if (a == "--not-writable") {
      medium.writable = false;
    } else if (a == "--capacity") {
      if (!parseSize(value("--capacity"), medium.capacity)) {
        std::fprintf(stderr, "quil-mkdisc: bad capacity\n");
        return 2;
      }
    } else if (a == "--label") {
      medium.label = quil::fromUtf8(value("--label"));
    } else if (a == "--firmware") {
      medium.firmware = value("--firmware");
      if (medium.firmware.size() != 4 || medium.firmware.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "quil-mkdisc: --firmware takes four digits\n");
        return 2;
      }
    } else if (a == "--clip-limit") {
      if (!parseSize(value("--clip-limit"), medium.clipLimit)) {
        std::fprintf(stderr, "quil-mkdisc: bad clip limit\n");
        return 2;
      }
    } else if (a == "--23mode-check-failed") {
      medium.is23ModeCheckOk = false;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "quil-mkdisc: unknown option %s (see --help)\n", a.c_str());
      return 2;
    } else if (dir == nullptr) {
      dir = argv[i];
    } else {
      std::fprintf(stderr, "quil-mkdisc: one folder only\n");
      return 2;
    }
  }
  if (dir == nullptr) {
    usage(stderr);
    return 2;
  }
  const std::string error = quil::emulator::formatDisc(dir, medium);
  if (!error.empty()) {
    std::fprintf(stderr, "quil-mkdisc: %s\n", error.c_str());
    return 1;
  }
  std::printf("made an empty disc in %s\n", dir);
  return 0;
}
