// quil: a command-line client of libquilcoreapi, through its public header
// only, so that what it shows is what any caller gets.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quil/quilcoreapi.h"

namespace {

constexpr const char* kVersion = "0.1.0";

void usage(FILE* out) {
  std::fputs(
      "usage: quil COMMAND [ARGS]\n"
      "\n"
      "A command-line client of libquilcoreapi.\n"
      "\n"
      "commands:\n"
      "  version        print the version of this tool and of the library's interface\n"
      "  status         print the volume status and write-protect flags that the library reports\n"
      "                 (status -9999 until a volume has been opened in this process)\n"
      "  error CODE     print the message the library gives for an error code\n"
      "  --help, -h     print this help\n"
      "\n"
      "Every call is traced into the library's log files. Settings come from the registry\n"
      "file named by QUIL_REGISTRY (default /etc/quil/registry.reg), key\n"
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc:\n"
      "LogLevel (1: all but debug lines, 2: all lines), LogFolder, MaxLogFileNum, MaxLogFileSize.\n",
      out);
}

std::string narrow(const QUILCHAR* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

int printLastError() {
  QUILCHAR buffer[256];
  uint32_t required = 0;
  const int32_t code = QUILAPI_GetLastErrorWithMessage(buffer, 256, &required);
  std::printf("last error %d: %s\n", code, narrow(buffer).c_str());
  return code == 0 ? 0 : 1;
}

int status() {
  uint32_t status = 0;
  uint32_t flags = 0;
  if (QUILAPI_GetVolumeInformation(0, &status, &flags) == 0) return printLastError();
  std::printf("volume status %d, write-protect flags 0x%08X\n", static_cast<int32_t>(status), flags);
  return 0;
}

int error(const char* text) {
  char* end = nullptr;
  const long code = std::strtol(text, &end, 0);
  if (end == text || *end != '\0') {
    std::fprintf(stderr, "quil: not an error code: %s\n", text);
    return 2;
  }
  QUILAPI_SetLastError(static_cast<int32_t>(code));
  printLastError();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "version" && argc == 2) {
    std::printf("quil %s (libquilcoreapi, 36 exports)\n", kVersion);
    return 0;
  }
  if (command == "status" && argc == 2) return status();
  if (command == "error" && argc == 3) return error(argv[2]);
  std::fprintf(stderr, "quil: unknown command or wrong arguments: %s (see quil --help)\n", command.c_str());
  return 2;
}
