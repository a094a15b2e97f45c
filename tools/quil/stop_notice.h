// How `quil record` learns that the drive stopped its recording: from the
// close-error message the library sends, which belongs to this process.
// When no desktop utility's session is active, the tool serves a session of
// its own (a private pipe folder and session number) before it opens the
// volume, and after the close reads whether a Truncate message came for its
// clip. A utility's session is never served in its place: then the tool
// cannot tell, and says where to look.
#pragma once

#include <string>

namespace quiltool {

class StopNotice {
 public:
  StopNotice();  // before the volume opens
  ~StopNotice();
  StopNotice(const StopNotice&) = delete;
  StopNotice& operator=(const StopNotice&) = delete;

  // Whether this process serves the messages (false: a utility does).
  bool serving() const { return server_ >= 0; }
  // Whether a Truncate message came for the file (its name after the last
  // backslash); reads what has arrived without waiting.
  bool truncated(const std::u16string& fileName);

 private:
  int server_ = -1;
  std::string folder_;
  std::string socket_;
};

}  // namespace quiltool
