// The quil tool as a user runs it: exit status, standard output and
// standard error, on a fresh emulated disc reached with --root.
#include <signal.h>

#include "tools/process_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quiltest::Outcome;
using quiltest::pattern;
using quiltest::slurp;

class QuilTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(quil({"mkdisc", disc()}).status, 0); }

  std::string disc() const { return (scratch_ / "disc").string(); }
  fs::path file(const std::string& name) const { return scratch_ / name; }

  Outcome quil(const std::vector<std::string>& args, const std::string& env = "") const {
    return scratch_.run(env + quiltest::commandLine(QUIL_TOOL, args));
  }
  // The same on the test's disc.
  Outcome onDisc(const std::vector<std::string>& args) const {
    std::vector<std::string> all{"--root", disc()};
    all.insert(all.end(), args.begin(), args.end());
    return quil(all);
  }
  // A settings file holding the library's key with `values`; the
  // environment that makes the tool read it.
  std::string registry(const std::string& name, const std::string& values) const {
    std::ofstream(file(name)) << "Windows Registry Editor Version 5.00\n\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n"
                              << values;
    return "QUIL_REGISTRY=" + quiltest::quoted(file(name).string()) + " ";
  }

  quiltest::ScratchFolder scratch_{"quil-tool"};
};

TEST_F(QuilTool, ListingsAndFailureLines) {
  std::ofstream(file("a.txt")) << "alpha";
  ASSERT_EQ(onDisc({"mkdir", "/USERDATA/dir"}).status, 0);
  ASSERT_EQ(onDisc({"put", file("a.txt").string(), "/USERDATA/dir/a.txt"}).status, 0);
  ASSERT_EQ(onDisc({"mv", "/USERDATA/dir/a.txt", "/USERDATA/dir/c.txt"}).status, 0);
  const Outcome top = onDisc({"ls", "-l", "/USERDATA"});
  ASSERT_EQ(top.status, 0) << top.err;
  // One entry per line: type, attributes, size, ISO 8601 time, name.
  std::istringstream lines(top.out);
  std::string type, attributes, when, name;
  long long size = -1;
  ASSERT_TRUE(lines >> type >> attributes >> size >> when >> name) << top.out;
  EXPECT_EQ(type, "d");
  EXPECT_EQ(name, "dir");
  EXPECT_EQ(when.size(), 19u);
  EXPECT_EQ(when[10], 'T');
  EXPECT_FALSE(lines >> type) << "one entry, the folder";
  const Outcome inner = onDisc({"ls", "-l", "\\USERDATA\\dir"});
  EXPECT_NE(inner.out.find(" 5 "), std::string::npos) << inner.out;
  EXPECT_NE(inner.out.find("c.txt\n"), std::string::npos) << inner.out;
  EXPECT_EQ(onDisc({"ls", "/USERDATA/dir"}).out, "c.txt\n");
  EXPECT_EQ(onDisc({"ls", "-R", "/USERDATA"}).out, "dir\n\n\\USERDATA\\dir:\nc.txt\n");
  const Outcome missing = onDisc({"ls", "/USERDATA/nowhere"});
  EXPECT_EQ(missing.status, 1) << "a folder that is not there is no empty listing";
  EXPECT_EQ(missing.err.rfind("quil: \\USERDATA\\nowhere: ", 0), 0u) << missing.err;

  // A refusal of the library names the path, the code and its text.
  std::ofstream(file("clip.bin")) << std::string(4096, 'c');
  ASSERT_EQ(onDisc({"record", "--no-progress", file("clip.bin").string(), "/CLIP/C0001.MXF"}).status, 0);
  ASSERT_EQ(onDisc({"lock", "/CLIP/C0001.MXF"}).status, 0);
  const Outcome locked = onDisc({"rm", "/CLIP/C0001.MXF"});
  EXPECT_EQ(locked.status, 1);
  EXPECT_EQ(locked.err.rfind("quil: \\CLIP\\C0001.MXF: -3012 Media write protected", 0), 0u) << locked.err;
}

// `quil --root DISC COMMAND /dev/stdin PATH` in a process of its own,
// reading a pipe that the test feeds: the file stays open on the disc for
// as long as the test wants.
class Fed {
 public:
  Fed(const fs::path& log, const std::string& disc, const std::string& command, const std::string& path) : log_(log) {
    const std::vector<std::string> args{"--root", disc, command, "--no-progress", "/dev/stdin", path};
    // Its temporary folders go to the test's own folder: a killed tool
    // leaves its private drive folder behind.
    pid_ = quiltest::start("env TMPDIR=" + quiltest::quoted(log.parent_path().string()) + " " +
                               quiltest::commandLine(QUIL_TOOL, args),
                           log, &feed_);
  }
  ~Fed() { finish(); }
  // A blocking write to a pipe returns once all of it is taken.
  void write(const std::string& bytes) {
    ASSERT_EQ(::write(feed_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The end of the data; the tool's exit status and what it printed.
  Outcome finish() {
    if (feed_ >= 0) ::close(feed_);
    feed_ = -1;
    return {quiltest::exitStatus(pid_, 60s), slurp(log_), ""};
  }
  void kill() {
    ::kill(pid_, SIGKILL);
    finish();
  }

 private:
  fs::path log_;
  int feed_ = -1;
  pid_t pid_ = -1;
};

// Waits until the host file has at least `size` bytes: the data fed has
// gone through the library to the disc.
bool grows(const fs::path& host, uintmax_t size) {
  return quiltest::eventually([&] { std::error_code ec; return fs::file_size(host, ec) >= size && !ec; }, 10s);
}

TEST_F(QuilTool, AnotherProcessKeepsTheSharingRules) {
  const std::string first = pattern(1 << 20, 1), rest = pattern(3 << 20, 2);
  Fed recording(file("rec.out"), disc(), "record", "/CLIP/C0001.MXF");
  recording.write(first);
  ASSERT_TRUE(grows(fs::path(disc()) / "CLIP" / "C0001.MXF", first.size()));
  Fed userData(file("put.out"), disc(), "put", "/USERDATA/u.bin");
  userData.write("held");
  ASSERT_TRUE(grows(fs::path(disc()) / "USERDATA" / "u.bin", 4));
  std::ofstream(file("small.bin"), std::ios::binary) << pattern(70000, 3);

  // What a second process may not do to the files the first holds open,
  // with the code it is told, and what it may.
  const struct {
    std::vector<std::string> args;
    int status;
    const char* said;
  } cases[] = {
      {{"rm", "/CLIP/C0001.MXF"}, 1, "-8 "},
      {{"mv", "/CLIP/C0001.MXF", "/CLIP/C0009.MXF"}, 1, "-8 "},
      {{"lock", "/CLIP/C0001.MXF"}, 1, "-8 "},
      {{"label", "OTHER"}, 1, "-8 "},
      {{"record", "--no-progress", file("small.bin").string(), "/CLIP/C0001.MXF"}, 1, "-3008 "},
      {{"get", "/CLIP/C0001.MXF", file("early.bin").string()}, 1, "-3010 "},
      {{"rm", "/USERDATA/u.bin"}, 1, "error 32"},
      {{"get", "/USERDATA/u.bin", file("u.bin").string()}, 1, "error 32"},
      {{"put", file("small.bin").string(), "/USERDATA/u.bin"}, 1, "error 32"},
      // A recording of another clip beside it, and user data elsewhere.
      {{"record", "--no-progress", file("small.bin").string(), "/CLIP/C0002.MXF"}, 0, "70000 bytes recorded"},
      {{"put", file("small.bin").string(), "/USERDATA/v.bin"}, 0, ""},
  };
  for (const auto& c : cases) {
    const Outcome o = onDisc(c.args);
    EXPECT_EQ(o.status, c.status) << c.args[0] << " " << c.args[1] << "\n" << o.out << o.err;
    EXPECT_NE((o.out + o.err).find(c.said), std::string::npos) << c.args[0] << " " << c.args[1] << "\n" << o.out << o.err;
  }

  // The refused record of the same clip left the recording whole.
  recording.write(rest);
  const Outcome recorded = recording.finish();
  EXPECT_EQ(recorded.status, 0) << recorded.out;
  EXPECT_NE(recorded.out.find("4194304 bytes recorded"), std::string::npos) << recorded.out;
  EXPECT_EQ(userData.finish().status, 0);
  ASSERT_EQ(onDisc({"get", "--no-progress", "/CLIP/C0001.MXF", file("back.bin").string()}).status, 0);
  EXPECT_EQ(slurp(file("back.bin")), first + rest);
}

TEST_F(QuilTool, AKilledProcessLeavesNothingThatBlocks) {
  {
    Fed recording(file("rec.out"), disc(), "record", "/CLIP/C0003.MXF");
    recording.write(pattern(1 << 20, 4));
    ASSERT_TRUE(grows(fs::path(disc()) / "CLIP" / "C0003.MXF", 1 << 20));
    recording.kill();
  }
  std::ofstream(file("small.bin"), std::ios::binary) << pattern(5000, 5);
  const std::vector<std::string> after[] = {{"label", "AFTER"}, {"rm", "/CLIP/C0003.MXF"},
                                            {"record", "--no-progress", file("small.bin").string(), "/CLIP/C0003.MXF"}};
  for (const auto& args : after) {
    const Outcome o = onDisc(args);
    EXPECT_EQ(o.status, 0) << args[0] << ": " << o.err;
  }
}

// A first use that goes wrong says what to fix, in a line beside the
// library's code.
TEST_F(QuilTool, FirstUseProblemsSayWhatToFix) {
  fs::create_directories(file("drives"));
  fs::create_directories(file("upper"));
  fs::create_directory_symlink(disc(), file("upper") / "E:");
  fs::create_directories(file("plain"));
  std::ofstream(file("bad.reg")) << "garbage\n";
  const struct {
    std::string env;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> said;
  } cases[] = {
      {"QUIL_DRIVES=" + file("none").string(), {"ls"}, 1,
       {"quil: drive E: -3101 ", "the drive folder " + file("none").string() + " does not exist"}},
      {"QUIL_DRIVES=" + file("drives").string(), {"ls"}, 1,
       {"no link for drive E: in the drive folder", "looked for " + file("drives").string() + "/e:"}},
      {"QUIL_DRIVES=" + file("upper").string(), {"ls", "/USERDATA"}, 0, {}},  // a link in the other case
      {"QUIL_DRIVES=" + file("drives").string(), {"--drive", "e", "ls"}, 1, {"e is not a drive"}},
      {"", {"--root", file("plain").string(), "ls"}, 1,
       {"quil: " + file("plain").string() + ": ", "is not a disc made by quil mkdisc"}},
      {"QUIL_REGISTRY=" + file("missing.reg").string(), {"--root", disc(), "ls", "/USERDATA"}, 0,
       {"missing.reg (QUIL_REGISTRY) does not exist"}},
      {"QUIL_REGISTRY=" + file("bad.reg").string(), {"--root", disc(), "ls", "/USERDATA"}, 0,
       {"bad.reg (QUIL_REGISTRY) is not a registry export"}},
  };
  for (const auto& c : cases) {
    const Outcome o = quil(c.args, c.env + " ");
    EXPECT_EQ(o.status, c.status) << c.env << "\n" << o.err;
    for (const auto& text : c.said) EXPECT_NE(o.err.find(text), std::string::npos) << c.env << "\n" << o.err;
    if (c.said.empty()) {
      EXPECT_EQ(o.err, "");
    }
  }
}

TEST_F(QuilTool, AnUnwritableLogFolderIsNamed) {
  if (::getuid() != 0 || std::system("command -v setpriv >/dev/null") != 0) {
    GTEST_SKIP() << "needs root and setpriv to run the tool as another user";
  }
  fs::create_directories(file("locked"));
  fs::permissions(file("locked"), fs::perms(0555));
  fs::permissions(file(""), fs::perms(0755));
  const std::string env = registry("log.reg", "\"LogFolder\"=\"" + file("locked").string() + "/log\"\n");
  const Outcome o = scratch_.run("chmod -R a+rwX " + quiltest::quoted(disc()) +
                                 " && setpriv --reuid=65534 --regid=65534 --clear-groups env " + env +
                                 quiltest::commandLine(QUIL_TOOL, {"--root", disc(), "ls", "/USERDATA"}));
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("the log folder " + file("locked").string() + "/log/ cannot be created"), std::string::npos)
      << o.err;
}

// Why the drive stopped a recording comes to the tool itself, logging off.
TEST_F(QuilTool, ARecordingsStopReasonIsKnownWithLoggingOff) {
  const std::string loggingOff = registry("off.reg", "\"LogLevel\"=dword:10000000\n");
  std::ofstream(file("in.bin"), std::ios::binary) << pattern(500000, 9);
  const struct {
    std::vector<std::string> medium;
    std::string said;
  } cases[] = {
      {{"--clip-limit", "100000"}, "stopped after 100000 bytes: Duration Full"},
      {{"--capacity", "300K"}, ": Size Full: the disc is full"},
  };
  for (const auto& c : cases) {
    const std::string folder = file("limited" + c.medium[0]).string();
    std::vector<std::string> make{"mkdisc", folder};
    make.insert(make.end(), c.medium.begin(), c.medium.end());
    ASSERT_EQ(quil(make).status, 0);
    const Outcome o =
        quil({"--root", folder, "record", "--no-progress", file("in.bin").string(), "/CLIP/C0001.MXF"}, loggingOff);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(c.said), std::string::npos) << o.out;
  }
}

TEST_F(QuilTool, UsageErrors) {
  EXPECT_EQ(quil({"--no-such-option", "info"}).status, 2);
  EXPECT_EQ(quil({"ls", "--bogus"}).status, 2);
  EXPECT_EQ(quil({}).status, 2);
  EXPECT_EQ(quil({"error", "twelve"}).status, 2);
  const Outcome help = quil({"put", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("HOST-FILE"), std::string::npos);
  EXPECT_NE(help.out.find("QUIL_DRIVES"), std::string::npos) << "every help names the environment";
  EXPECT_NE(help.out.find("quil log"), std::string::npos);
  const Outcome unknown = quil({"frob"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command 'frob'"), std::string::npos) << unknown.err;
  std::ofstream(file("x.bin")) << "x";
  const Outcome notEssence = onDisc({"record", file("x.bin").string(), "/USERDATA/x.bin"});
  EXPECT_EQ(notEssence.status, 2) << "only clip and component essence is recorded";
  EXPECT_FALSE(fs::exists(fs::path(disc()) / "USERDATA" / "x.bin"));
  const Outcome used = quil({"mkdisc", disc()});
  EXPECT_EQ(used.status, 1);
  EXPECT_EQ(used.err.find(disc()), used.err.rfind(disc())) << "the folder is named once: " << used.err;
}

TEST_F(QuilTool, DemoRunsAWholeSession) {
  const Outcome demo = quil({"demo", "--root", file("demo").string()});
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_NE(demo.out.find("verified"), std::string::npos);
  EXPECT_NE(demo.out.find("Changing the volume label finished. -> New volume label: QUIL DEMO"), std::string::npos)
      << demo.out;
}

}  // namespace
