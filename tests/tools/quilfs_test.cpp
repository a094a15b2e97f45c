// quilfs: the errno table and the name conversions on their own, then the
// daemon mounted for real on fresh emulated discs (skipped, with the reason,
// where a trial mount fails): a tree copied in and compared by rsync,
// refusals as errno, a recorded clip in the listing, read-only and full
// discs, pages the kernel keeps between opens, a seeded random checker
// against an in-memory model, and unmounting with a file still open.
#include <fuse_lowlevel.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <random>
#include <set>

#include "errno_map.h"
#include "names.h"
#include "tools/process_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quiltest::Outcome;
using quiltest::pattern;
using quiltest::quoted;
using quiltest::slurp;

TEST(QuilfsErrno, OneTableForCodesAndRelayedWindowsErrors) {
  // {library code, Windows error, errno}: the Windows error decides only when the code is 0.
  const int cases[][3] = {
      {-3010, 0, EBUSY},  {-8, 0, EBUSY},    {-3005, 0, EPERM},   {-3012, 0, EROFS},  {-3002, 0, EROFS},
      {-3003, 0, ENOSPC}, {1000, 0, ENOENT}, {-4, 0, EBADF},      {-3008, 0, EEXIST}, {-1308, 0, EIO},
      {-3012, 2, EROFS},  {0, 3, ENOENT},    {0, 5, EACCES},      {0, 32, EBUSY},     {0, 183, EEXIST},
      {0, 112, ENOSPC},   {0, 145, ENOTEMPTY}, {0, 0, EIO},       {0, 9999, EIO},
  };
  for (const auto& [code, windows, expected] : cases) {
    EXPECT_EQ(quilfs::errnoOf(code, static_cast<uint32_t>(windows)), expected) << code << " / " << windows;
  }
}

TEST(QuilfsNames, MountPathsTimesAndKinds) {
  EXPECT_EQ(quilfs::volumePathOf("/"), u"\\");
  EXPECT_EQ(quilfs::volumePathOf("/USERDATA/\xC3\xA9t\xC3\xA9.txt"), u"\\USERDATA\\\u00E9t\u00E9.txt");
  EXPECT_EQ(quilfs::volumePathOf("/USERDATA/\xF0\x9F\x8E\xA5"), u"\\USERDATA\\\U0001F3A5");
  EXPECT_FALSE(quilfs::volumePathOf("/USERDATA/a\\b")) << "a backslash would be a separator on the volume";
  EXPECT_FALSE(quilfs::volumePathOf("/USERDATA/\xC0\xAF")) << "an overlong form";
  EXPECT_FALSE(quilfs::volumePathOf("/USERDATA/\xED\xA0\x80")) << "an encoded surrogate";
  EXPECT_EQ(quilfs::utf8Of(u"\\CLIP\\\U0001F3A5"), "\\CLIP\\\xF0\x9F\x8E\xA5");
  EXPECT_TRUE(quilfs::isUserArea(u"\\userdata\\a\\b"));
  EXPECT_FALSE(quilfs::isUserArea(u"\\USERDATAX\\a"));
  EXPECT_TRUE(quilfs::isRecordedEssence(u"\\clip\\C0001.mxf"));
  EXPECT_FALSE(quilfs::isRecordedEssence(u"\\CLIP\\C0001M01.XML"));
  EXPECT_TRUE(quilfs::isAtOrBelow(u"\\USERDATA\\a\\b", u"\\userdata\\A"));
  EXPECT_FALSE(quilfs::isAtOrBelow(u"\\USERDATA\\ab", u"\\USERDATA\\a"));
  // FILETIME counts 100 ns from 1601-01-01; 2001-09-09T01:46:40.5Z in both forms.
  EXPECT_EQ(quilfs::fileTimeOf({0, 0}), 116444736000000000LL);
  EXPECT_EQ(quilfs::fileTimeOf({1000000000, 500000099}), 116444736000000000LL + 10000000000000000LL + 5000000);
  const QUIL_SYSTEMTIME t{2001, 9, 0, 9, 1, 46, 40, 500};
  EXPECT_EQ(quilfs::timespecOf(t).tv_sec, 1000000000);
  EXPECT_EQ(quilfs::timespecOf(t).tv_nsec, 500000000);
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

bool onPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Why the tests cannot mount here, or empty; found once, with a trial
// mount of an empty file system of libfuse's own in a child process (a
// failure of quilfs itself must fail the tests, not skip them).
const std::string& fuseUnusable() {
  static const std::string why = []() -> std::string {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
    ::close(fd);
    // The tests unmount with it, whoever they run as.
    if (!onPath("fusermount3")) return "fusermount3 is not installed (Debian package fuse3)";
    const quiltest::ScratchFolder probe("quilfs-probe");
    fs::create_directories(probe / "mnt");
    pid_t child = fork();
    if (child == 0) {
      const int log = ::open((probe / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, STDERR_FILENO);
      char name[] = "quilfs-probe";
      char* argv[] = {name, nullptr};
      fuse_args args = FUSE_ARGS_INIT(1, argv);
      const fuse_lowlevel_ops ops{};
      fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, nullptr);
      if (session == nullptr || fuse_session_mount(session, (probe / "mnt").c_str()) != 0) _exit(1);
      fuse_session_unmount(session);
      fuse_session_destroy(session);
      _exit(0);
    }
    if (child < 0) return "the trial mount could not be run";
    if (quiltest::exitStatus(child, 60s) == 0) return "";
    std::string text = slurp(probe / "err");
    text.erase(text.find_last_not_of("\n ") + 1);
    return "mounting is not permitted here: " + (text.empty() ? std::string("the trial mount failed") : text);
  }();
  return why;
}

// The errno a call left when it returned -1; 0 when it did not.
int failure(int rc) { return rc == -1 ? errno : 0; }

bool mounted(const fs::path& where) {
  return slurp("/proc/self/mountinfo").find(" " + where.string() + " ") != std::string::npos;
}

class Quilfs : public ::testing::Test {
 protected:
  struct Mount {
    pid_t pid = -1;
    fs::path at, log;
  };

  void SetUp() override {
    if (const std::string& why = fuseUnusable(); !why.empty()) GTEST_SKIP() << why;
  }
  void TearDown() override {
    for (Mount& m : mounts_) unmount(m);
  }

  fs::path at(const std::string& name) const { return scratch_ / name; }
  Outcome sh(const std::string& command) const { return scratch_.run(command); }
  Outcome quil(const std::string& args) const { return sh(quoted(QUIL_TOOL) + " " + args); }
  // A file's bytes read off the disc by another process through the library.
  std::string fromDisc(const fs::path& d, const std::string& volumePath) const {
    const Outcome got = quil("--root " + quoted(d.string()) + " get --no-progress " + volumePath + " " +
                             quoted(at("fetched").string()));
    EXPECT_EQ(got.status, 0) << volumePath << ": " << got.err;
    return slurp(at("fetched"));
  }
  fs::path disc(const std::string& name, const std::string& options = "") const {
    EXPECT_EQ(quil("mkdisc '" + at(name).string() + "' " + options).status, 0);
    return at(name);
  }

  // The daemon in the foreground, its output kept; ready once the mount
  // shows (a daemon that ends first is not waited for).
  Mount& mount(const fs::path& discFolder, const std::string& name, std::vector<std::string> extra = {}) {
    Mount& m = mounts_.emplace_back(Mount{-1, at(name), at(name + ".log")});
    fs::create_directories(m.at);
    extra.insert(extra.begin(), {discFolder.string(), m.at.string(), "-f"});
    m.pid = quiltest::start(quiltest::commandLine(QUILFS_TOOL, extra), m.log);
    quiltest::eventually([&] { return mounted(m.at) || quiltest::exitStatus(m.pid, 0s) != -2; }, 10s);
    EXPECT_TRUE(mounted(m.at)) << slurp(m.log);
    return m;
  }

  // fusermount3 -u, else SIGKILL and a lazy unmount; the daemon's exit
  // status, -1 when it had to be killed.
  int unmount(Mount& m) {
    if (m.pid <= 0) return -1;
    std::system(("fusermount3 -u '" + m.at.string() + "' 2>/dev/null").c_str());
    int status = quiltest::exitStatus(m.pid, 10s);
    if (status == -2) {
      kill(m.pid, SIGKILL);
      quiltest::exitStatus(m.pid, 5s);
      status = -1;
    }
    if (mounted(m.at)) std::system(("fusermount3 -u -z '" + m.at.string() + "' 2>/dev/null").c_str());
    return status;
  }

  quiltest::ScratchFolder scratch_{"quilfs"};
  std::list<Mount> mounts_;  // mount() hands out references; unmounted before the folder goes
};

// A small tree: nested folders, an empty file, sizes around a block.
void makeTree(const fs::path& root) {
  fs::create_directories(root / "a" / "b");
  fs::create_directories(root / "empty-dir");
  spit(root / "empty", "");
  spit(root / "one", "1");
  spit(root / "a" / "page", pattern(4095, 1));
  spit(root / "a" / "b" / "block+3", pattern((1 << 20) + 3, 2));
  spit(root / "a" / "b" / "big", pattern((5 << 19) + 77, 3));
  spit(root / "caf\xC3\xA9 menu.txt", "soup\n");
}

TEST_F(Quilfs, RsyncIntoUserData) {
  if (!onPath("rsync")) GTEST_SKIP() << "rsync is not installed";
  Mount& m = mount(disc("disc"), "mnt");
  makeTree(at("src"));
  sh("find '" + at("src").string() + "' -type f -exec chmod 644 {} + -exec touch -d @1000000000.25 {} +");
  // Folders keep no times the mount could set, and the medium keeps them to
  // the millisecond.
  const std::string rsync = "rsync -a -i --omit-dir-times --modify-window=1 '" + at("src").string() + "/' '" +
                            (m.at / "USERDATA" / "rs").string() + "/'";
  const Outcome first = sh(rsync);
  ASSERT_EQ(first.status, 0) << first.err << slurp(m.log);
  EXPECT_EQ(sh("diff -r '" + at("src").string() + "' '" + (m.at / "USERDATA" / "rs").string() + "'").status, 0);
  // Sizes and times came through: a second run finds nothing to send.
  const Outcome second = sh(rsync);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "") << "rsync sent again:\n" << second.out;
  struct stat st {};
  ASSERT_EQ(::stat((m.at / "USERDATA" / "rs" / "a" / "page").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 250000000);
}

TEST_F(Quilfs, RefusalsArriveAsErrno) {
  Mount& m = mount(disc("disc"), "mnt");
  const std::string clip = (m.at / "CLIP" / "C0003.MXF").string(), essence = pattern(3 << 20, 6);
  const int recording = ::open(clip.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(recording, 0) << std::strerror(errno) << slurp(m.log);
  ASSERT_EQ(::write(recording, essence.data(), essence.size()), static_cast<ssize_t>(essence.size()));
  EXPECT_EQ(failure(::unlink(clip.c_str())), EBUSY);
  ::close(recording);
  // The clip as the listing shows it, finished (its metadata written), and
  // as it reads back.
  const Outcome ls = sh("cd " + quoted((m.at / "CLIP").string()) + " && stat -c '%A %s %n' *");
  EXPECT_NE(ls.out.find("-rw-r--r-- 3145728 C0003.MXF\n"), std::string::npos) << ls.out << ls.err;
  EXPECT_NE(ls.out.find(" C0003M01.XML\n"), std::string::npos) << "the recording was finished:\n" << ls.out;
  EXPECT_TRUE(slurp(clip) == essence);
  EXPECT_EQ(::unlink(clip.c_str()), 0) << std::strerror(errno) << " once closed";
  // The daemon's standard error names the path, the code and its text.
  EXPECT_NE(slurp(m.log).find("unlink \\CLIP\\C0003.MXF: QUILAPI_DeleteFile: -3010 "), std::string::npos) << slurp(m.log);

  const fs::path a = m.at / "USERDATA" / "a", b = m.at / "USERDATA" / "b";
  spit(a, "a");
  spit(b, "b");
  EXPECT_EQ(failure(renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE)), EEXIST);
  EXPECT_EQ(failure(renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE)), EINVAL);
  EXPECT_EQ(failure(::symlink("b", (m.at / "USERDATA" / "l").c_str())), EPERM);
  EXPECT_EQ(failure(::link(b.c_str(), (m.at / "USERDATA" / "l").c_str())), EPERM);
  EXPECT_EQ(failure(::mkfifo((m.at / "USERDATA" / "p").c_str(), 0644)), EPERM);
  EXPECT_EQ(failure(::setxattr(b.c_str(), "user.x", "1", 1, 0)), ENOTSUP);
  EXPECT_EQ(failure(::getxattr(b.c_str(), "user.x", nullptr, 0)), ENOTSUP);
  // No write bit left is the read-only attribute; one given back clears it.
  ASSERT_EQ(::chmod(b.c_str(), 0444), 0);
  struct stat st {};
  ASSERT_EQ(::stat(b.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(failure(::open(b.c_str(), O_WRONLY)), EACCES);
  ASSERT_EQ(::chmod(b.c_str(), 0644), 0);
  EXPECT_EQ(failure(::close(::open(b.c_str(), O_WRONLY | O_TRUNC))), 0) << std::strerror(errno);
}

// The kernel does not wait for the release of a closed file: with other
// requests keeping the daemon's threads busy, the next open for writing, or
// the rename or removal of the file just closed, often arrives first, and
// must wait for the release instead of being refused.
TEST_F(Quilfs, WritingFileAfterFileIsNotRefused) {
  Mount& m = mount(disc("disc"), "mnt");
  std::atomic<bool> stop{false};
  std::vector<std::thread> lookups;
  for (int i = 0; i < 3; ++i) {
    lookups.emplace_back([&] {
      struct stat st {};
      while (!stop) ::stat((m.at / "USERDATA" / "missing").c_str(), &st);
    });
  }
  const fs::path a = m.at / "USERDATA" / "a", b = m.at / "USERDATA" / "b";
  int refused = 0;
  for (int i = 0; i < 1000; ++i) {
    const int fd = ::open((i % 2 == 0 ? a : b).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      ++refused;
      continue;
    }
    EXPECT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
    if (i % 10 == 1 && ::rename(b.c_str(), a.c_str()) != 0) ++refused;
    if (i % 10 == 3 && ::unlink(b.c_str()) != 0) ++refused;
  }
  // A clip removed as soon as its recording is closed.
  const std::string clip = (m.at / "CLIP" / "C0001.MXF").string();
  const std::string bytes = pattern(65536, 7);
  for (int i = 0; i < 100 && refused == 0; ++i) {
    const int fd = ::open(clip.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      ++refused;
      break;
    }
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    if (::unlink(clip.c_str()) != 0) ++refused;
  }
  stop = true;
  for (auto& t : lookups) t.join();
  EXPECT_EQ(refused, 0) << slurp(m.log);
}

// Names and paths at their limits: what can be made can be listed whole,
// and what is too long is refused as POSIX says, never shortened.
TEST_F(Quilfs, NamesAtTheirLimits) {
  Mount& m = mount(disc("disc"), "mnt");
  const fs::path u = m.at / "USERDATA";
  const std::string n64(64, 'a'), n65(65, 'b');
  std::string deep = (u / "deep").string();
  ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
  while (deep.size() - u.string().size() < 1000) {  // past the path limit of 1023 units
    deep += "/" + std::string(60, 'd');
    if (::mkdir(deep.c_str(), 0755) != 0) break;
  }
  const int deepError = errno;
  const struct {
    const char* what;
    std::function<int()> call;
    int error;
  } cases[] = {
      {"create 64", [&] { return failure(::close(::open((u / n64).c_str(), O_CREAT | O_WRONLY, 0644))); }, 0},
      {"create 65", [&] { return failure(::open((u / n65).c_str(), O_CREAT | O_WRONLY, 0644)); }, ENAMETOOLONG},
      {"mkdir 64", [&] { return failure(::mkdir((u / ("d" + n64.substr(1))).c_str(), 0755)); }, 0},
      {"mkdir 65", [&] { return failure(::mkdir((u / n65).c_str(), 0755)); }, ENAMETOOLONG},
      {"rename to 65", [&] { return failure(::rename((u / n64).c_str(), (u / n65).c_str())); }, ENAMETOOLONG},
      {"beyond the path limit", [&] { return deepError; }, ENAMETOOLONG},
  };
  for (const auto& c : cases) {
    errno = 0;
    EXPECT_EQ(c.call(), c.error) << c.what;
  }
  std::set<std::string> listed;
  for (const auto& e : fs::directory_iterator(u)) listed.insert(e.path().filename().string());
  EXPECT_EQ(listed, (std::set<std::string>{n64, "d" + n64.substr(1), "deep"})) << "whole names, nothing shortened";
  std::error_code ec;
  EXPECT_GT(fs::remove_all(u / "deep", ec), 10u) << ec.message();  // rm -rf reaches every level

  // A folder onto a folder: an empty one is replaced, a full one refused.
  ASSERT_EQ(::mkdir((u / "from").c_str(), 0755), 0);
  std::ofstream(u / "from" / "in") << "x";
  ASSERT_EQ(::mkdir((u / "empty").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((u / "full").c_str(), 0755), 0);
  std::ofstream(u / "full" / "keep") << "y";
  EXPECT_EQ(failure(::rename((u / "from").c_str(), (u / "full").c_str())), ENOTEMPTY);
  EXPECT_EQ(failure(::rename((u / "from").c_str(), (u / "empty").c_str())), 0);
  EXPECT_EQ(slurp(u / "empty" / "in"), "x");

  // An unlinked open file answers fstat with no link left, and still reads.
  const int fd = ::open((u / "gone").c_str(), O_CREAT | O_RDWR, 0644);
  ASSERT_EQ(::write(fd, "hello", 5), 5);
  ASSERT_EQ(::unlink((u / "gone").c_str()), 0);
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0) << std::strerror(errno);
  EXPECT_EQ(st.st_nlink, 0u);
  EXPECT_EQ(st.st_size, 5);
  char back[5] = {};
  EXPECT_EQ(::pread(fd, back, 5, 0), 5);
  ::close(fd);
  EXPECT_FALSE(fs::exists(u / "gone"));
}

// The image of a disc (made by genisoimage), read-only whatever the
// options, and a writable disc mounted with -o ro, whose volume is opened
// write-protected too: each shows the folder's tree, nothing with a write
// bit, and takes no change.
TEST_F(Quilfs, ReadOnlyMounts) {
  const fs::path d = disc("source");
  makeTree(d / "USERDATA");
  ASSERT_EQ(sh("genisoimage -udf -quiet -o '" + at("disc.iso").string() + "' '" + d.string() + "'").status, 0);
  Mount& image = mount(at("disc.iso"), "image-mnt");
  for (const Mount* m : {&image, &mount(d, "ro-mnt", {"-o", "ro"})}) {
    const Outcome diff = sh("diff -r --exclude=.quil-medium '" + m->at.string() + "' '" + d.string() + "'");
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    struct stat st {};
    ASSERT_EQ(::stat((m->at / "INDEX.XML").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(failure(::open((m->at / "USERDATA" / "one").c_str(), O_WRONLY)), EROFS);
    EXPECT_EQ(failure(::open((m->at / "USERDATA" / "x").c_str(), O_WRONLY | O_CREAT, 0644)), EROFS);
    EXPECT_EQ(failure(::mkdir((m->at / "USERDATA" / "new").c_str(), 0755)), EROFS);
  }
  EXPECT_EQ(unmount(image), 0);
}

// A full disc: statvfs says what quil info says, and a write takes what
// fits before it fails with ENOSPC.
TEST_F(Quilfs, AFullDisc) {
  const fs::path full = disc("full", "--capacity 1M");
  const Outcome info = quil("--root '" + full.string() + "' info");
  unsigned long long capacity = 0, free = 0;
  ASSERT_EQ(std::sscanf(info.out.substr(info.out.find("capacity")).c_str(), "capacity %llu bytes, %llu free", &capacity,
                        &free), 2) << info.out;
  Mount& m = mount(full, "full-mnt");
  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(m.at.c_str(), &vfs), 0);
  EXPECT_EQ(vfs.f_blocks * vfs.f_frsize, capacity / vfs.f_frsize * vfs.f_frsize);
  EXPECT_EQ(vfs.f_bavail * vfs.f_frsize, free / vfs.f_frsize * vfs.f_frsize);
  const int fd = ::open((m.at / "USERDATA" / "big").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const std::string chunk = pattern(100000, 7);
  long long taken = 0;
  ssize_t n = 0;
  while ((n = ::write(fd, chunk.data(), chunk.size())) > 0) taken += n;
  EXPECT_EQ(errno, ENOSPC);
  ::close(fd);
  // What landed is what write() reported, and no byte more.
  ASSERT_EQ(unmount(m), 0);
  EXPECT_EQ(fs::file_size(full / "USERDATA" / "big"), static_cast<uintmax_t>(taken));
  EXPECT_GT(taken, static_cast<long long>(free) - 100000);
}

// The kernel keeps a file's pages from one open to the next only while they
// hold what the file holds. After each change (through the mount under
// either spelling of the name, or through the library by another program)
// the file read under both spellings shows the new bytes, where a kept
// stale page would show the old; the daemon's trace (-d) tells which reads
// the kept pages served.
TEST_F(Quilfs, KeptPagesNeverOutliveAChange) {
  const fs::path d = disc("disc");
  Mount& m = mount(d, "mnt", {"-d"});
  const fs::path lower = m.at / "USERDATA" / "s.bin", upper = m.at / "USERDATA" / "S.BIN";
  const std::string onDisc = "--root " + quoted(d.string()) + " ";
  auto bytes = [](uint32_t seed) { return pattern(64 * 1024, seed); };  // whole pages
  auto readsServed = [&] { return sh("grep -c 'opcode: READ (' " + quoted(m.log.string())).out; };
  auto put = [&](uint32_t seed, const std::string& name) {
    spit(at("host"), bytes(seed));
    ASSERT_EQ(quil(onDisc + "put --no-progress " + quoted(at("host").string()) + " /USERDATA/" + name).status, 0);
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    uint32_t holds;
    bool kept;  // the next read of s.bin is served by the kernel's pages
  };
  const std::vector<Step> steps = {
      {"written through the mount", [&] { spit(lower, bytes(1)); }, 1, true},
      {"put by another program", [&] { put(2, "s.bin"); }, 2, false},
      {"written under the other spelling", [&] { spit(upper, bytes(3)); }, 3, false},
      {"renamed onto through the mount",
       [&] {
         spit(m.at / "USERDATA" / "t.bin", bytes(4));
         fs::rename(m.at / "USERDATA" / "t.bin", lower);
       },
       4, false},
      {"removed and renamed onto by another program",
       [&] {
         put(5, "other.bin");
         ASSERT_EQ(quil(onDisc + "rm /USERDATA/s.bin").status, 0);
         ASSERT_EQ(quil(onDisc + "mv /USERDATA/other.bin /USERDATA/s.bin").status, 0);
       },
       5, false},
      {"left alone until its times are old, and read once",
       [&] {
         std::this_thread::sleep_for(3100ms);
         EXPECT_TRUE(slurp(lower) == bytes(5));
       },
       5, true},
      {"then put by another program", [&] { put(6, "s.bin"); }, 6, false},
  };
  for (const Step& step : steps) {
    step.change();
    const std::string before = readsServed();
    EXPECT_TRUE(slurp(lower) == bytes(step.holds)) << step.what;
    if (step.kept) {
      EXPECT_EQ(readsServed(), before) << step.what << ": the daemon was asked for the bytes again";
    }
    EXPECT_TRUE(slurp(upper) == bytes(step.holds)) << step.what << ", read as S.BIN";
  }
}

// ls -l: the stat of every entry comes from the listing just made, not from
// a lookup each in the library; a change through the mount is seen at once.
TEST_F(Quilfs, StatsAfterAListingComeFromIt) {
  const fs::path d = disc("disc");
  fs::create_directories(d / "USERDATA" / "many");
  for (int i = 0; i < 40; ++i) spit(d / "USERDATA" / "many" / ("f" + std::to_string(i)), "x");
  // Every export call traced (LogLevel 2), so that the lookups can be counted.
  const fs::path settings = at("trace.reg");
  spit(settings, "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n"
                 "\"LogLevel\"=dword:00000002\n\"LogFolder\"=\"" + at("log").string() + "\"\n");
  const std::string before = std::getenv("QUIL_REGISTRY") != nullptr ? std::getenv("QUIL_REGISTRY") : "";
  setenv("QUIL_REGISTRY", settings.c_str(), 1);
  Mount& m = mount(d, "mnt");
  setenv("QUIL_REGISTRY", before.c_str(), 1);
  const auto lookups = [&] {
    return std::stoi(sh("cat " + quoted(at("log").string()) + "/* 2>/dev/null | grep -c 'QUILAPI_FindFirstFile('").out);
  };
  const int atStart = lookups();
  const Outcome ls = sh("ls -l " + quoted((m.at / "USERDATA" / "many").string()));
  ASSERT_EQ(ls.status, 0) << ls.err;
  EXPECT_NE(ls.out.find("-rw-r--r-- 1 "), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find(" f39\n"), std::string::npos) << ls.out;
  const int made = lookups() - atStart;
  ASSERT_GE(made, 1) << "the listing itself is traced";
  EXPECT_LT(made, 10) << "a lookup for each of the 40 entries";
  // Made read-only through the mount right after (no writer open): the
  // next stat shows it.
  const fs::path f7 = m.at / "USERDATA" / "many" / "f7";
  ASSERT_EQ(::chmod(f7.c_str(), 0444), 0) << std::strerror(errno);
  struct stat st {};
  ASSERT_EQ(::stat(f7.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// In the manner of fsx: writes at offsets, truncations and reads on three
// user-data files, each compared with a model; a file is open for writing
// one at a time, as the volume allows.
TEST_F(Quilfs, RandomOperationsMatchAModel) {
  const fs::path d = disc("disc");
  Mount& m = mount(d, "mnt");
  const char* seedText = std::getenv("QUILFS_CHECK_SEED");
  const uint32_t seed = seedText != nullptr ? static_cast<uint32_t>(std::stoul(seedText)) : 20240601u;
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  constexpr size_t kMax = 768 * 1024;
  std::vector<std::string> model(3);
  std::string history;  // the operations so far, a line each: the last ones go with a failure
  auto fail = [&](const std::string& what) {
    const size_t shown = std::min<size_t>(history.size(), 1500);
    return "seed " + std::to_string(seed) + ": " + what + "\nlast operations:\n" + history.substr(history.size() - shown);
  };
  auto path = [&](size_t f) { return (m.at / "USERDATA" / ("fsx" + std::to_string(f))).string(); };
  for (int done = 0; done < 3000;) {
    const size_t f = pick(model.size());
    const int fd = ::open(path(f).c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << fail("open " + path(f) + ": " + std::strerror(errno));
    for (size_t k = 10 + pick(50); k > 0; --k, ++done) {
      std::string& bytes = model[f];
      const size_t op = pick(10), offset = pick(kMax), length = 1 + pick(64 * 1024);
      history += std::to_string(done) + " file " + std::to_string(f) + " op " + std::to_string(op) + " at " +
                 std::to_string(offset) + " length " + std::to_string(length) + "\n";
      if (op < 4) {
        const std::string data = pattern(length, static_cast<uint32_t>(rng()));
        ASSERT_EQ(::pwrite(fd, data.data(), length, static_cast<off_t>(offset)), static_cast<ssize_t>(length))
            << fail(std::strerror(errno));
        if (bytes.size() < offset + length) bytes.resize(offset + length, '\0');
        bytes.replace(offset, length, data);
      } else if (op < 6) {
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(offset)), 0) << fail(std::strerror(errno));
        bytes.resize(offset, '\0');
      } else if (op < 9) {
        std::string got(length, '\0');
        const ssize_t n = ::pread(fd, got.data(), length, static_cast<off_t>(offset));
        const size_t want = offset >= bytes.size() ? 0 : std::min(length, bytes.size() - offset);
        ASSERT_EQ(n, static_cast<ssize_t>(want)) << fail("short read");
        ASSERT_TRUE(want == 0 || got.compare(0, want, bytes, offset, want) == 0) << fail("the bytes differ from the model");
      } else {
        struct stat st {};
        ASSERT_EQ(::fstat(fd, &st), 0);
        ASSERT_EQ(st.st_size, static_cast<off_t>(bytes.size())) << fail("fstat size");
      }
    }
    ASSERT_EQ(::close(fd), 0);
    // Between bursts: a truncation by path, and the whole file read afresh.
    const size_t g = pick(model.size());
    if (pick(4) == 0 && fs::exists(path(g))) {
      const size_t size = pick(kMax);
      ASSERT_EQ(::truncate(path(g).c_str(), static_cast<off_t>(size)), 0) << fail(std::strerror(errno));
      model[g].resize(size, '\0');
    }
    if (fs::exists(path(g))) {
      ASSERT_TRUE(slurp(path(g)) == model[g]) << fail("file " + std::to_string(g) + " reread");
    }
  }
  ASSERT_EQ(unmount(m), 0) << slurp(m.log);
  for (size_t f = 0; f < model.size(); ++f) {
    EXPECT_TRUE(fromDisc(d, "/USERDATA/fsx" + std::to_string(f)) == model[f]) << fail("the disc's copy of " + path(f));
  }
}

TEST_F(Quilfs, UnmountWithAFileStillOpen) {
  const fs::path d = disc("disc");
  Mount& m = mount(d, "mnt");
  const std::string data = pattern(300000, 8);
  // A recording still open when the daemon is told to stop: it is finished
  // (its metadata written) and the volume closed before the daemon exits.
  const int recording = ::open((m.at / "CLIP" / "C0004.MXF").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(recording, 0) << std::strerror(errno);
  ASSERT_EQ(::write(recording, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  kill(m.pid, SIGTERM);
  EXPECT_EQ(quiltest::exitStatus(m.pid, 10s), 0) << slurp(m.log);
  EXPECT_FALSE(mounted(m.at));
  EXPECT_NE(slurp(m.log).find("volume closed (1 file was still open at unmount)"), std::string::npos) << slurp(m.log);
  ::close(recording);
  EXPECT_TRUE(fs::exists(d / "CLIP" / "C0004M01.XML"));
  EXPECT_TRUE(fromDisc(d, "/CLIP/C0004.MXF") == data);

  // Unmounted lazily while a file is written: the daemon stays until the
  // file is closed, then exits, and every byte is on the disc.
  Mount& again = mount(d, "mnt2");
  const int fd = ::open((again.at / "USERDATA" / "late").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, data.data(), 1000), 1000);
  ASSERT_EQ(std::system(("fusermount3 -u -z '" + again.at.string() + "'").c_str()), 0);
  ASSERT_EQ(::write(fd, data.data() + 1000, data.size() - 1000), static_cast<ssize_t>(data.size() - 1000));
  ::close(fd);
  EXPECT_EQ(quiltest::exitStatus(again.pid, 10s), 0) << slurp(again.log);
  EXPECT_TRUE(fromDisc(d, "/USERDATA/late") == data);
}

}  // namespace
