// The quil tool as a user runs it: exit status, standard output and
// standard error, on a fresh emulated disc reached with --root.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "tools/process_runner.h"

namespace {

namespace fs = std::filesystem;
using quiltest::Outcome;
using quiltest::slurp;

class QuilTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(quil({"mkdisc", disc()}).status, 0); }

  std::string disc() const { return (scratch_ / "disc").string(); }
  fs::path file(const std::string& name) const { return scratch_ / name; }

  Outcome quil(const std::vector<std::string>& args) const {
    return scratch_.run(quiltest::commandLine(QUIL_TOOL, args));
  }
  // The same on the test's disc.
  Outcome onDisc(std::initializer_list<std::string> args) const {
    std::vector<std::string> all{"--root", disc()};
    all.insert(all.end(), args.begin(), args.end());
    return quil(all);
  }

  quiltest::ScratchFolder scratch_{"quil-tool"};
};

TEST_F(QuilTool, PutAndGetLargerThanTheBuffer) {
  std::string bytes(3 * 1024 * 1024 + 12345, '\0');
  uint32_t x = 7;
  for (char& c : bytes) c = static_cast<char>(x = x * 1664525u + 1013904223u, x >> 24);
  std::ofstream(file("in.bin"), std::ios::binary) << bytes;
  ASSERT_EQ(onDisc({"put", "--no-progress", file("in.bin").string(), "/USERDATA/copy.bin"}).status, 0);
  const Outcome got = onDisc({"get", "--no-progress", "\\USERDATA\\copy.bin", file("back.bin").string()});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(slurp(file("back.bin")), bytes);
}

TEST_F(QuilTool, ListingFollowsTheChanges) {
  std::ofstream(file("a.txt")) << "alpha";
  ASSERT_EQ(onDisc({"mkdir", "/USERDATA/dir"}).status, 0);
  ASSERT_EQ(onDisc({"put", file("a.txt").string(), "/USERDATA/dir/a.txt"}).status, 0);
  ASSERT_EQ(onDisc({"put", file("a.txt").string(), "/USERDATA/b.txt"}).status, 0);
  ASSERT_EQ(onDisc({"mv", "/USERDATA/dir/a.txt", "/USERDATA/dir/c.txt"}).status, 0);
  ASSERT_EQ(onDisc({"rm", "/USERDATA/b.txt"}).status, 0);
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
  EXPECT_FALSE(lines >> type) << "b.txt was deleted";
  const Outcome inner = onDisc({"ls", "-l", "\\USERDATA\\dir"});
  EXPECT_NE(inner.out.find(" 5 "), std::string::npos) << inner.out;
  EXPECT_NE(inner.out.find("c.txt\n"), std::string::npos) << inner.out;
  EXPECT_EQ(onDisc({"ls", "/USERDATA/dir"}).out, "c.txt\n");
}

TEST_F(QuilTool, LibraryFailuresNameThePathCodeAndText) {
  std::ofstream(file("clip.bin")) << std::string(4096, 'c');
  ASSERT_EQ(onDisc({"record", "--no-progress", file("clip.bin").string(), "/CLIP/C0001.MXF"}).status, 0);
  ASSERT_EQ(onDisc({"lock", "/CLIP/C0001.MXF"}).status, 0);
  const Outcome locked = onDisc({"rm", "/CLIP/C0001.MXF"});
  EXPECT_EQ(locked.status, 1);
  EXPECT_EQ(locked.err.rfind("quil: \\CLIP\\C0001.MXF: -3012 Media write protected", 0), 0u) << locked.err;
  const Outcome missing = onDisc({"get", "/USERDATA/missing.txt", file("x").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("quil: \\USERDATA\\missing.txt: ", 0), 0u) << missing.err;
  const Outcome busy = onDisc({"record", "--no-progress", file("clip.bin").string(), "/CLIP/C0001.MXF"});
  EXPECT_EQ(busy.status, 1) << "a clip that exists is not recorded over";
}

TEST_F(QuilTool, UsageErrors) {
  EXPECT_EQ(quil({"--no-such-option", "info"}).status, 2);
  EXPECT_EQ(quil({"ls", "--bogus"}).status, 2);
  EXPECT_EQ(quil({}).status, 2);
  EXPECT_EQ(quil({"error", "twelve"}).status, 2);
  const Outcome help = quil({"put", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("HOST-FILE"), std::string::npos);
}

TEST_F(QuilTool, DemoRunsAWholeSession) {
  const Outcome demo = quil({"demo", "--root", file("demo").string()});
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_NE(demo.out.find("verified"), std::string::npos);
  EXPECT_NE(demo.out.find("Changing the volume label finished. -> New volume label: QUIL DEMO"), std::string::npos)
      << demo.out;
}

}  // namespace
