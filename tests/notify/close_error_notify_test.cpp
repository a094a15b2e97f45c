// The close-error message the desktop utility receives, and the delivery
// failures over a real Unix-domain socket in the pipe folder that cost a
// trace line and nothing else: no session, no server, a busy server, no
// events, a server that hangs up before the write and one that never reads.
#include "notify/close_error_notify.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "support/process_log.h"

// The pipe client makes its events after it connects and before it writes.
// A test can fail that step, or hold it until its server has acted; every
// other call gets the real one.
namespace {
enum class EventHook { kPass, kFail, kWaitForServer };
std::atomic<EventHook> gEventHook{EventHook::kPass};
std::shared_future<void> gServerActed;
}  // namespace

extern "C" int eventfd(unsigned int initval, int flags) {
  const EventHook hook = gEventHook.exchange(EventHook::kPass);
  if (hook == EventHook::kFail) return errno = EMFILE, -1;
  if (hook == EventHook::kWaitForServer) gServerActed.wait_for(std::chrono::seconds(5));
  return static_cast<int>(::syscall(SYS_eventfd2, initval, flags));
}

namespace {

namespace fs = std::filesystem;
using quil::notify::notifiCloseError;
using namespace std::chrono_literals;

class CloseErrorNotify : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("QUIL_TEST_TMP");
    folder_ = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / ("pipes-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    ASSERT_EQ(::setenv("QUIL_PIPE_DIR", folder_.c_str(), 1), 0);
    ASSERT_EQ(::setenv("QUIL_ACTIVE_SESSION", "7", 1), 0);
    mark_ = quiltest::processLogLines().size();
  }
  void TearDown() override {
    if (listener_ >= 0) ::close(listener_);
    fs::remove_all(folder_);
  }

  sockaddr_un address() const {
    sockaddr_un a{.sun_family = AF_UNIX, .sun_path = {}};
    const std::string p = (folder_ / "TALVONotifyCloseError_7").string();
    std::memcpy(a.sun_path, p.c_str(), p.size() + 1);
    return a;
  }
  // The utility's pipe of session 7.
  void listen(int backlog = 4) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un a = address();
    ASSERT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener_, backlog), 0);
  }
  // The lines since the mark, without the header the first line of a
  // process puts before it.
  std::vector<std::string> lines() const {
    auto all = quiltest::processLogLines();
    std::vector<std::string> out;
    for (auto it = all.begin() + static_cast<std::ptrdiff_t>(mark_); it != all.end(); ++it) {
      if (!it->starts_with("#")) out.push_back(*it);
    }
    return out;
  }

  fs::path folder_;
  int listener_ = -1;
  size_t mark_ = 0;
};

// The record itself: the type, the first character of the root, and the
// name after the last backslash, cut to 255 units and terminated. Its
// delivery over the pipe, bytes as the utility reads them, is checked end to
// end in volume_session_test (StoppedRecordingIsLoggedAndReported,
// FailedCloses, DuplicatedNamesAreRenamedAndReported).
TEST(CloseErrorMessage, CarriesTypeDriveAndLastPathComponent) {
  const std::u16string longName(300, u'n');
  const struct {
    uint32_t type;
    std::u16string path, root, name;
  } rows[] = {{0, u"\\USERDATA\\dir\\a.txt", u"F:\\", u"a.txt"},
              {3, u"plain.txt", u"g:", u"plain.txt"},
              {0, u"\\USERDATA\\" + longName, u"E:", longName.substr(0, 255)}};
  for (const auto& r : rows) {
    const quil::notify::MsgBodyCloseError m = quil::notify::makeCloseErrorMessage(r.type, r.path, r.root);
    EXPECT_EQ(m.messageType, r.type);
    EXPECT_EQ(m.drive, r.root[0]);
    EXPECT_EQ(std::u16string(m.closeFileName, r.name.size() + 1), r.name + u'\0');
  }
}

TEST_F(CloseErrorNotify, DeliveryIsBestEffortAndNeverHoldsTheCaller) {
  struct Case {
    std::function<void()> server;
    EventHook hook;
    std::string line;           // the one line the call leaves
    const char* session = "7";  // the active session, none when null
  };
  const int filler = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::promise<void> acted;
  gServerActed = acted.get_future().share();
  std::thread hangUp;
  const std::string failed = "notifiCloseError() std::exception error[notifiCloseError()] what=";
  const std::string noSession = "notifiCloseError() getActiveSession() error : no Active Session";
  const Case cases[] = {
      // No session, or one that is no number: nothing is tried (a try
      // would leave a failure line of its own instead).
      {[] {}, EventHook::kPass, noSession, nullptr},
      {[] {}, EventHook::kPass, noSession, ""},
      {[] {}, EventHook::kPass, noSession, "seven"},
      {[] {}, EventHook::kPass, failed + "CreateNamedPipeA or CreateFileA GetLastError()=2"},
      {[&] {  // a backlog of 0 is full with one connection waiting
         listen(0);
         const sockaddr_un a = address();
         ASSERT_EQ(::connect(filler, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
       },
       EventHook::kPass, failed + "CreateNamedPipeA or CreateFileA GetLastError()=231"},
      {[&] { listen(); }, EventHook::kFail, failed + "m_stopReq CreateEvent GetLastError()=4"},
      // Hangs up before the client writes: a broken pipe, and the process
      // is still here to say so (no SIGPIPE).
      {[&] {
         listen();
         hangUp = std::thread([&] { ::close(::accept(listener_, nullptr, nullptr)), acted.set_value(); });
       },
       EventHook::kWaitForServer, failed + "WriteFile GetLastError()=232"},
      // Never accepts, never reads: the message waits in the socket.
      {[&] { listen(); }, EventHook::kPass, "*** message_pipe::send[CloseError sid:7]"},
  };
  for (const Case& c : cases) {
    mark_ = quiltest::processLogLines().size();
    c.session == nullptr ? ::unsetenv("QUIL_ACTIVE_SESSION") : ::setenv("QUIL_ACTIVE_SESSION", c.session, 1);
    c.server();
    gEventHook = c.hook;
    const auto start = std::chrono::steady_clock::now();
    notifiCloseError(0, u"\\CLIP\\C0001.MXF", u"E:");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << c.line;
    if (hangUp.joinable()) hangUp.join();
    const auto written = lines();
    ASSERT_EQ(written.size(), 1u) << c.line;
    EXPECT_NE(written[0].find(c.line), std::string::npos) << written[0];
    if (listener_ >= 0) ::close(listener_), listener_ = -1;
    fs::remove(folder_ / "TALVONotifyCloseError_7");
  }
  ::close(filler);
}

}  // namespace
