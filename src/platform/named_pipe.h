// Stand-ins for the Windows pieces the close-error notification uses: the
// active terminal-service session, the client end of a named pipe, and an
// unnamed manual-reset event. Failures report a Windows error number, which
// is also left in the thread's Windows error, as the Windows calls do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quil::platform {

// The active session: QUIL_ACTIVE_SESSION as a decimal id; unset, empty or
// not a number means no active session.
std::optional<uint32_t> activeSession();

// Where named pipes live: QUIL_PIPE_DIR when set and not empty, else
// /run/quil/pipe. No trailing slash.
std::string pipeFolder();

// The socket that stands in for "\\.\pipe\NAME": NAME in the pipe folder.
// A name without the "\\.\pipe\" prefix is taken as NAME itself.
std::string pipeSocketPath(std::string_view windowsPipeName);

// The client end of a named pipe: a Unix-domain stream socket. Opening
// never waits for a server that does not accept (a full backlog answers
// "pipe busy" at once, as a pipe with no free instance does), writes never
// raise SIGPIPE and give up after a few seconds of a server that does not
// read.
class PipeClient {
 public:
  PipeClient() = default;
  ~PipeClient() { close(); }
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  // False with the Windows error (2 no such pipe, 231 busy, 5 denied, ...).
  bool open(std::string_view windowsPipeName, uint32_t& windowsError);
  // One write of up to size bytes; written receives what went. False with
  // the Windows error (232 the server closed its end, 121 timed out, ...).
  bool write(const void* data, uint32_t size, uint32_t& written, uint32_t& windowsError);
  void close();
  bool isOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// An unnamed manual-reset event, initially not signalled.
class ManualResetEvent {
 public:
  ManualResetEvent() = default;
  ~ManualResetEvent() { close(); }
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  bool create(uint32_t& windowsError);
  void close();
  bool isValid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The Windows error closest to a host errno, for the stand-ins above.
uint32_t windowsErrorOfErrno(int err);

}  // namespace quil::platform
