// quil-utility-listen: stands in for the desktop utility's end of the
// close-error pipe, so that a user (or a test) can watch what the library
// reports. It serves the session's socket and prints one line per message:
// the type by name, the drive and the file name.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "notify/close_error_message.h"
#include "platform/named_pipe.h"
#include "text/utf.h"

namespace {

volatile sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

void usage(FILE* out) {
  std::fprintf(out,
               "usage: quil-utility-listen [--session N] [--count N]\n"
               "\n"
               "Serves the close-error pipe of a session (the socket TALVONotifyCloseError_N in\n"
               "$QUIL_PIPE_DIR, default /run/quil/pipe) and prints one line per message:\n"
               "  TYPE DRIVE: FILE\n"
               "TYPE is CloseError, Truncate, DuplicateRenamed or DuplicateAliased.\n"
               "\n"
               "  --session N  the session to serve (default $QUIL_ACTIVE_SESSION, else 1)\n"
               "  --count N    exit after N messages (default: run until interrupted)\n"
               "  --help       this text\n");
}

bool parseNumber(std::string_view text, uint32_t& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Reads exactly size bytes; false at end of stream or on an error.
bool readAll(int fd, void* buffer, size_t size) {
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, p + got, size - got);
    if (n < 0 && errno == EINTR && !gStop) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

void print(const quil::notify::MsgBodyCloseError& m) {
  size_t length = 0;
  while (length < 256 && m.closeFileName[length] != u'\0') ++length;
  const std::string name = quil::toUtf8(std::u16string_view(m.closeFileName, length));
  const std::string drive = quil::toUtf8(std::u16string_view(&m.drive, m.drive == u'\0' ? 0 : 1));
  std::printf("%s %s: %s\n", quil::notify::closeErrorTypeName(m.messageType), drive.c_str(), name.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t session = quil::platform::activeSession().value_or(1);
  uint32_t count = 0;  // 0: no limit
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if ((arg == "--session" || arg == "--count") && i + 1 < argc) {
      uint32_t& target = arg == "--session" ? session : count;
      if (!parseNumber(argv[++i], target)) {
        std::fprintf(stderr, "quil-utility-listen: %s needs a number, not '%s'\n", argv[i - 1], argv[i]);
        return 2;
      }
      continue;
    }
    std::fprintf(stderr, "quil-utility-listen: unknown argument '%s'\n\n", argv[i]);
    usage(stderr);
    return 2;
  }

  const std::string path = quil::platform::pipeSocketPath(quil::notify::closeErrorPipeName(session));
  std::error_code ec;
  std::filesystem::create_directories(quil::platform::pipeFolder(), ec);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "quil-utility-listen: socket path too long: %s\n", path.c_str());
    return 1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::unlink(path.c_str());  // a socket left by an earlier listener
  if (server < 0 || ::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(server, 16) != 0) {
    std::fprintf(stderr, "quil-utility-listen: cannot serve %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  ::chmod(path.c_str(), 0666);  // any user's library may report

  struct sigaction action {};
  action.sa_handler = onSignal;  // no SA_RESTART: accept and read return at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::fprintf(stderr, "quil-utility-listen: serving %s\n", path.c_str());
  uint32_t received = 0;
  while (!gStop && (count == 0 || received < count)) {
    const int client = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "quil-utility-listen: accept: %s\n", std::strerror(errno));
      break;
    }
    quil::notify::MsgBodyCloseError message{};
    while ((count == 0 || received < count) && readAll(client, &message, sizeof message)) {
      print(message);
      ++received;
    }
    ::close(client);
  }
  ::close(server);
  ::unlink(path.c_str());
  return 0;
}
