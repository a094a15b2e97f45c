#include "notify/close_error_notify.h"

#include <algorithm>

#include "logging/trace.h"
#include "notify/talvo_message_pipe.h"
#include "platform/named_pipe.h"
#include "quil/platform_error.h"

namespace quil::notify {

namespace {

// The notification belongs to the volume session, and its lines say so.
constexpr const char16_t* kSource = u"project/QUILCoreAPI/VolumeHandle";
constexpr const char16_t* kFunction = u"notifiCloseError";

template <class... A>
void trace(int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, kFunction, line, format, args...);
}

}  // namespace

std::string closeErrorPipeName(uint32_t session) {
  return "\\\\.\\pipe\\TALVONotifyCloseError_" + std::to_string(session);
}

MsgBodyCloseError makeCloseErrorMessage(uint32_t type, std::u16string_view path, std::u16string_view rootPath) {
  MsgBodyCloseError message{};
  message.messageType = type;
  message.drive = rootPath.empty() ? u'\0' : rootPath.front();
  const size_t slash = path.rfind(u'\\');
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  // A name of 256 or more characters would not fit with its terminator.
  name = name.substr(0, std::min<size_t>(name.size(), 255));
  std::copy(name.begin(), name.end(), message.closeFileName);
  message.closeFileName[name.size()] = u'\0';
  return message;
}

const char* closeErrorTypeName(uint32_t type) {
  switch (type) {
    case kCloseError: return "CloseError";
    case kTruncate: return "Truncate";
    case kDuplicateRenamed: return "DuplicateRenamed";
    case kDuplicateAliased: return "DuplicateAliased";
    default: return "Unknown";
  }
}

void notifiCloseError(uint32_t type, std::u16string_view path, std::u16string_view rootPath) noexcept {
  // A close that failed may have left the cause in the thread's Windows
  // error for its caller; the pipe's own failures must not replace it.
  const uint32_t callersWindowsError = QUILPlatform_GetLastError();
  struct Restore {
    uint32_t value;
    ~Restore() { QUILPlatform_SetLastError(value); }
  } restore{callersWindowsError};
  try {
    const std::optional<uint32_t> session = quil::platform::activeSession();
    if (!session) {
      trace(__LINE__, u"getActiveSession() error : no Active Session\n");
      return;
    }
    try {
      QUILUtilityIF::TALVOMessagePipe<MsgBodyCloseError> pipe(closeErrorPipeName(*session));
      pipe.body() = makeCloseErrorMessage(type, path, rootPath);
      pipe.send();
      // The text names CloseError whatever the type.
      trace(__LINE__, u"*** message_pipe::send[CloseError sid:%d]", *session);
    } catch (const std::exception& e) {
      trace(__LINE__, u"std::exception error[notifiCloseError()] what=%hs", e.what());
    } catch (...) {
      trace(__LINE__, u"error[notifiCloseError()] GetLastError=0x%08X\n", QUILPlatform_GetLastError());
    }
  } catch (...) {
    // Even a line that cannot be written must not reach the closing caller.
  }
}

}  // namespace quil::notify
