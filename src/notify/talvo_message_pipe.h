// The client end of the desktop utility's message pipe, for one message
// body type. Construction opens the pipe and its events, send writes the
// whole body, destruction closes everything. Errors are thrown as
// QueueExceprion (the name the utility's interface has always had): the
// failing step, then " GetLastError()=" and the Windows error in decimal or
// " ErrorInfo=" and a detail text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/named_pipe.h"

namespace QUILUtilityIF {

template <class Body>
class TALVOMessagePipe {
 public:
  class QueueExceprion : public std::domain_error {
   public:
    QueueExceprion(const std::string& step, uint32_t windowsError)
        : std::domain_error(step + " GetLastError()=" + std::to_string(windowsError)) {}
    QueueExceprion(const std::string& step, const std::string& info)
        : std::domain_error(step + " ErrorInfo=" + info) {}
  };

  explicit TALVOMessagePipe(std::string name) : m_name(std::move(name)) {
    uint32_t error = 0;
    if (!m_hPipe.open(m_name, error)) throw QueueExceprion("CreateNamedPipeA or CreateFileA", error);
    if (!m_stopReq.create(error)) throw QueueExceprion("m_stopReq CreateEvent", error);
    if (!m_receiveEvent.create(error)) throw QueueExceprion("m_receiveEvent CreateEvent", error);
  }

  Body& body() { return m_body; }

  // Writes the whole body, finishing partial writes.
  void send() {
    if (!m_hPipe.isOpen()) throw QueueExceprion("send assert", "m_hPipe == INVALID_HANDLE_VALUE");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&m_body);
    uint32_t sent = 0;
    while (sent < sizeof(Body)) {
      uint32_t written = 0;
      uint32_t error = 0;
      if (!m_hPipe.write(bytes + sent, static_cast<uint32_t>(sizeof(Body)) - sent, written, error)) {
        throw QueueExceprion("WriteFile", error);
      }
      sent += written;
    }
  }

  const std::string& name() const { return m_name; }

 private:
  std::string m_name;
  quil::platform::PipeClient m_hPipe;
  quil::platform::ManualResetEvent m_connectEvent;  // the server's; a client never makes it
  quil::platform::ManualResetEvent m_stopReq;
  quil::platform::ManualResetEvent m_receiveEvent;
  Body m_body{};
};

}  // namespace QUILUtilityIF
