// Rotation, naming, headers, settings and removal of old files, driven with
// explicit times so that day changes need no waiting.
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <string>

#include "logging/log_file_manager.h"
#include "logging/log_file_name.h"
#include "logging/test_log_folder.h"
#include "quil/platform_error.h"
#include "text/utf.h"

namespace {

using quiltest::TestLogFolder;
using quiltest::timeAt;
namespace fs = std::filesystem;

// The day most tests log on, and its header with no installed version to tell.
const auto kDay = timeAt(2026, 3, 7);
const std::string kDayHeader = "#Date=2026/03/07, Source=QUILSVC, Version=";

std::string name(const quil::platform::LocalTime& t, int index = 0) {
  return "QUILSVC_" + quiltest::dateKey(t) + (index == 0 ? "" : "_" + std::to_string(index)) + ".log";
}

class LogFileManagerTest : public ::testing::Test {
 protected:
  std::shared_ptr<QUILLogger::LogFileManager> start() { return QUILLogger::LogFileManagerSVC::start(folder.options()); }
  TestLogFolder folder;
};

TEST_F(LogFileManagerTest, FirstLineCreatesTheDaysFileWithItsHeader) {
  folder.writeRegistryText(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Other}]\n"
      "\"DisplayName\"=\"Some Other Product\"\n\"DisplayVersion\"=\"9.9\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Ours}]\n"
      "\"DisplayName\"=\"Merrow TALVO Drive Software\"\n\"DisplayVersion\"=\"2.1.0\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n"
      "\"LogFolder\"=\"" + folder.dir() + "\"\n");
  auto m = start();
  m->writeLine(kDay, u"first line");
  ASSERT_EQ(folder.fileNames(), std::vector<std::string>{"QUILSVC_20260307.log"});
  EXPECT_EQ(folder.lines(name(kDay)), (std::vector<std::string>{kDayHeader + "2.1.0", "first line"}));
}

// A file larger than the limit moves the next line on, to _2 and then _3,
// each begun with the header; a file of exactly the limit is not larger.
TEST_F(LogFileManagerTest, SizeBeyondTheLimitMovesToIndexTwoThenThree) {
  folder.writeSettings("\"MaxLogFileSize\"=dword:00000064\n");  // 100 bytes
  auto m = start();
  m->writeLine(kDay, u"x");
  const std::string header = folder.lines(name(kDay))[0];
  // Fill the file to exactly 100 bytes: not larger, so the next line stays.
  const std::string fill(100 - (header.size() + 1) - 2 - 1, 'b');
  m->writeLine(kDay, std::u16string(fill.begin(), fill.end()));
  ASSERT_EQ(fs::file_size(folder.dir() + "/" + name(kDay)), 100u);
  m->writeLine(kDay, u"still here");
  EXPECT_EQ(folder.fileNames().size(), 1u);
  m->writeLine(kDay, u"now moved");
  m->writeLine(kDay, std::u16string(60, u'c'));  // _2 is not larger than the limit yet
  m->writeLine(kDay, u"moved again");
  ASSERT_EQ(folder.fileNames(), (std::vector<std::string>{name(kDay), name(kDay, 2), name(kDay, 3)}));
  EXPECT_EQ(folder.lines(name(kDay)), (std::vector<std::string>{header, "x", fill, "still here"}));
  EXPECT_EQ(folder.lines(name(kDay, 2)), (std::vector<std::string>{header, "now moved", std::string(60, 'c')}));
  EXPECT_EQ(folder.lines(name(kDay, 3)), (std::vector<std::string>{header, "moved again"}));
}

// What a line learns about its file without asking the file system (the
// folder watched, the size counted in the shared segment) against what it
// learns by asking before every line (no watch): the same files either way.
class FileChecks : public LogFileManagerTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::shared_ptr<QUILLogger::LogFileManager> startChecked() {
    auto o = folder.options();
    o.watchFolder = GetParam();
    return QUILLogger::LogFileManagerSVC::start(o);
  }
  // A manager that has written "one" on kDay, so that its file exists.
  std::shared_ptr<QUILLogger::LogFileManager> startWithALine() {
    folder.writeSettings("");
    auto m = startChecked();
    m->writeLine(kDay, u"one");
    return m;
  }
  // Makes a change in the folder from outside and waits until the manager can
  // know of it: a watching manager learns through its notification thread,
  // and the test waits for that rather than racing it.
  template <class Change>
  static void changeFromOutside(const QUILLogger::LogFileManager& m, Change change) {
    const uint64_t before = m.folderEvents();
    change();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (GetParam() && m.folderEvents() == before && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(!GetParam() || m.folderEvents() != before) << "the change was never noticed";
  }
};

TEST_P(FileChecks, NewDayStartsItsOwnFileWhateverTheSize) {
  folder.writeSettings("");
  auto m = startChecked();
  const auto before = timeAt(2026, 3, 7, 23, 59, 59, 999999);
  const auto after = timeAt(2026, 3, 8, 0, 0, 0, 1);
  m->writeLine(before, u"late");
  m->writeLine(after, u"early");
  ASSERT_EQ(folder.fileNames(), (std::vector<std::string>{name(before), name(after)}));
  EXPECT_EQ(folder.lines(name(after)), (std::vector<std::string>{"#Date=2026/03/08, Source=QUILSVC, Version=", "early"}));
}

TEST_P(FileChecks, RenamedCurrentFileIsWrittenOn) {
  // Only a file with no name left counts as removed: one renamed away is
  // still the file, as before notifications.
  auto m = startWithALine();
  changeFromOutside(*m, [&] {
    ASSERT_EQ(::rename((folder.dir() + "/" + name(kDay)).c_str(), (folder.dir() + "/kept.txt").c_str()), 0);
  });
  m->writeLine(kDay, u"two");
  EXPECT_EQ(folder.fileNames(), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(folder.lines("kept.txt").back(), "two");
}

TEST_P(FileChecks, FileRenamedOverTheCurrentOneIsContinued) {
  // A file moved in from elsewhere under the current name replaces it: the
  // next line goes to the file that now has the name.
  auto m = startWithALine();
  const std::string outside = folder.dir() + "/../moved-in.log";
  { std::ofstream(outside) << kDayHeader << "\nfrom elsewhere\n"; }
  changeFromOutside(*m, [&] { ASSERT_EQ(::rename(outside.c_str(), (folder.dir() + "/" + name(kDay)).c_str()), 0); });
  m->writeLine(kDay, u"two");
  EXPECT_EQ(folder.lines(name(kDay)), (std::vector<std::string>{kDayHeader, "from elsewhere", "two"}));
}

// A folder removed, then the day's file removed: each time the next line
// makes what is missing again and starts the file with its header. Only a
// watching manager skips the question before a line, also once the folder
// is new.
TEST_P(FileChecks, FolderThatDisappearsIsMadeAgain) {
  auto m = startWithALine();
  EXPECT_EQ(m->linesSkipFileChecks(), GetParam());
  changeFromOutside(*m, [&] { fs::remove_all(folder.dir()); });
  m->writeLine(kDay, u"two");
  EXPECT_EQ(folder.lines(name(kDay)), (std::vector<std::string>{kDayHeader, "two"}));
  EXPECT_EQ(m->linesSkipFileChecks(), GetParam()) << "the new folder is watched again";
  // And once more: the watch of the new folder tells of the next removal.
  changeFromOutside(*m, [&] { ASSERT_EQ(::unlink((folder.dir() + "/" + name(kDay)).c_str()), 0); });
  m->writeLine(kDay, u"three");
  m->writeLine(kDay, u"four");
  EXPECT_EQ(folder.lines(name(kDay)), (std::vector<std::string>{kDayHeader, "three", "four"}));
}

TEST_P(FileChecks, AnotherProcessFillingTheFileMovesTheNextLineOn) {
  folder.writeSettings("\"MaxLogFileSize\"=dword:000000C8\n");  // 200 bytes
  // The other process is forked before this one starts its manager, while
  // the test process has no thread besides this one: a child of a threaded
  // process inherits whatever lock another thread held at that moment.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);  // a hang fails this test instead of stalling the run
    ::close(go[1]);
    char c = 0;
    if (::read(go[0], &c, 1) != 1) _exit(2);
    // It appends until the file is past the limit, and stops before a
    // line of its own would have to move.
    auto o = folder.options();
    o.loggerName += "_child";
    o.watchFolder = false;  // its own way of checking is not what is tested; it only counts
    auto other = QUILLogger::LogFileManagerSVC::start(o);
    for (int i = 0; i < 4; ++i) other->writeLine(kDay, std::u16string(49, u'o'));
    other->detachAppenders();
    _exit(0);
  }
  ::close(go[0]);
  auto m = startChecked();
  m->writeLine(kDay, u"first");
  const bool started = ::write(go[1], "g", 1) == 1;
  ::close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process ended with status " << status;
  ASSERT_GT(fs::file_size(folder.dir() + "/" + name(kDay)), 200u) << "the other process did not fill the file";
  ASSERT_EQ(folder.fileNames(), std::vector<std::string>{name(kDay)});
  m->writeLine(kDay, u"moved on");
  ASSERT_EQ(folder.fileNames(), (std::vector<std::string>{name(kDay), name(kDay, 2)}));
  EXPECT_EQ(folder.lines(name(kDay, 2)).back(), "moved on");
}

INSTANTIATE_TEST_SUITE_P(Ways, FileChecks, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Watched" : "AskedEachLine"; });

TEST_F(LogFileManagerTest, ExistingNextFileIsContinuedWithoutASecondHeader) {
  folder.writeSettings("\"MaxLogFileSize\"=dword:00000064\n");
  folder.touch(name(kDay), 500);  // another process filled the first file ...
  std::ofstream(folder.dir() + "/" + name(kDay, 2)) << kDayHeader << "\nother process\n";  // ... and went on in _2
  auto m = start();
  m->writeLine(kDay, u"ours");
  EXPECT_EQ(folder.lines(name(kDay, 2)), (std::vector<std::string>{kDayHeader, "other process", "ours"}));
}

TEST_F(LogFileManagerTest, OldestFilesGoFirstWhenThereAreTooMany) {
  folder.writeSettings("\"MaxLogFileNum\"=dword:00000020\n");  // 32
  // 33 recognised files over 17 days, and names that must never be touched.
  std::vector<std::string> made;
  for (int i = 0; i < 33; ++i) {
    const auto day = timeAt(2025, 1, static_cast<uint16_t>(1 + i / 2));
    made.push_back(name(day, i % 2 == 0 ? 0 : 2));
    folder.touch(made.back(), 10);
  }
  for (const char* other : {"QUILSVC_20240101_1.log", "QUILSVC_20240101_02.log", "QUILSVC_20240101_2a.log",
                            "quilsvc_20240101.log", "QUILSVC_2024010.log", "notes.txt"}) {
    folder.touch(other, 1);
  }
  auto m = start();  // start-up removes the excess
  const auto names = folder.fileNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), made.front()), 0) << "the oldest file stays";
  for (size_t i = 1; i < made.size(); ++i) EXPECT_EQ(std::count(names.begin(), names.end(), made[i]), 1) << made[i];
  EXPECT_EQ(names.size(), 32u + 6u);
  EXPECT_EQ(m->listFolder().size(), 32u);
}

TEST_F(LogFileManagerTest, ASwitchAlsoRemovesTheExcess) {
  folder.writeSettings("\"MaxLogFileNum\"=dword:00000002\n\"MaxLogFileSize\"=dword:00000010\n");
  auto m = start();
  for (int i = 0; i < 5; ++i) m->writeLine(kDay, u"a line longer than ten bytes");
  EXPECT_EQ(folder.fileNames(), (std::vector<std::string>{name(kDay, 4), name(kDay, 5)}));
}

// The names the parser takes, and their order. The names the manager builds
// (the day's file, "_2" and on, the two-digit month and day) and the near
// misses it must leave alone ("_1", "_02", "_2a", another case, a short
// date) are checked on real folders above
// (SizeBeyondTheLimitMovesToIndexTwoThenThree,
// OldestFilesGoFirstWhenThereAreTooMany).
TEST(LogFileName, RecognisesOnlyNamesTheManagerBuilds) {
  const struct {
    const char16_t* name;
    bool valid;
    const char16_t* dateKey;
    uint32_t index;
  } rows[] = {
      {u"QUILSVC_20261206.log", true, u"20261206", 0},
      {u"QUILSVC_20261206_2.log", true, u"20261206", 2},
      {u"C:\\logs\\QUILSVC_20261206_3.log", true, u"20261206", 3},
      {u"/var/log/QUILSVC_20261206_3.log", true, u"20261206", 3},
      // The separator after the date is not checked.
      {u"QUILSVC_20261206-4.log", true, u"20261206", 4},
      {u"QUILSVC_20261206_0.log", false, u"", 0},
      {u"QUILSVC_20261206_.log", false, u"", 0},
      {u"QUILSVC_2026120x.log", false, u"", 0},
      {u"QUILSVC_20261206.LOG", false, u"", 0},
      {u"QUILSVC_20261206.log.bak", false, u"", 0},
      {u"", false, u"", 0},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(quil::toUtf8(c.name));
    const auto info = QUILLogger::parseLogFileName(c.name, u"QUILSVC_");
    EXPECT_EQ(info.valid, c.valid);
    if (c.valid) {
      EXPECT_EQ(info.dateKey, c.dateKey);
      EXPECT_EQ(info.index, c.index);
    }
  }
}

TEST(LogFileName, OrderIsOldestDayThenLowestIndex) {
  QUILLogger::LogFileSet set;
  for (const char16_t* n : {u"QUILSVC_20261206_3.log", u"QUILSVC_20261205_2.log", u"QUILSVC_20261206.log",
                            u"QUILSVC_20261206_10.log", u"QUILSVC_20261205.log"}) {
    set.insert(QUILLogger::parseLogFileName(n, u"QUILSVC_"));
  }
  std::vector<std::u16string> order;
  for (const auto& f : set) order.push_back(f.logName);
  EXPECT_EQ(order, (std::vector<std::u16string>{u"QUILSVC_20261205.log", u"QUILSVC_20261205_2.log",
                                                u"QUILSVC_20261206.log", u"QUILSVC_20261206_3.log",
                                                u"QUILSVC_20261206_10.log"}));
}

// The values read, and where a line then goes: into the folder given, which
// gets its trailing separator, or with logging off nowhere at all (no
// folder read, no file opened, not even in the working directory).
TEST(LogSettings, RegistryValuesFollowTheirRules) {
  const struct {
    const char* label;
    std::string values;
    uint32_t level, num, size;
    bool off = false;
  } rows[] = {
      {"defaults", "", 1, 32, 0xA00000},
      {"zeros mean defaults",
       "\"LogLevel\"=dword:00000000\n\"MaxLogFileNum\"=dword:00000000\n\"MaxLogFileSize\"=dword:00000000\n", 0, 32,
       0xA00000},
      {"as read", "\"LogLevel\"=dword:00000002\n\"MaxLogFileNum\"=dword:00000005\n\"MaxLogFileSize\"=dword:00001000\n",
       2, 5, 0x1000},
      // Logging off: nothing else is read.
      {"off", "\"LogLevel\"=dword:10000000\n\"MaxLogFileNum\"=dword:00000005\n", 0, 32, 0xA00000, true},
      {"off, every top bit", "\"LogLevel\"=dword:F0000000\n", 0, 32, 0xA00000, true},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.label);
    TestLogFolder folder;
    folder.writeSettings(c.values);
    auto m = QUILLogger::LogFileManagerSVC::start(folder.options());
    EXPECT_EQ(m->logLevel(), c.level);
    EXPECT_EQ(m->maxLogFileNum(), c.num);
    EXPECT_EQ(m->maxLogFileSize(), c.size);
    EXPECT_TRUE(m->isEnabled());
    m->writeLine(kDay, u"x");
    EXPECT_EQ(m->folder(), c.off ? std::u16string() : quil::fromUtf8(folder.dir()) + u"/");
    EXPECT_EQ(folder.fileNames().size(), c.off ? 0u : 1u);
    EXPECT_EQ(m->currentLogName().empty(), c.off);
  }
}

TEST_F(LogFileManagerTest, MissingSettingsKeyUsesTheInstallationFolder) {
  folder.writeRegistryText("Windows Registry Editor Version 5.00\n");
  auto m = start();
  EXPECT_EQ(m->logLevel(), 1u);
  EXPECT_EQ(quil::toUtf8(m->folder()), folder.options().programFilesFolder + "/Merrow/TALVO Drive/quilsvc/log/");
}

TEST_F(LogFileManagerTest, NonAsciiTextReachesTheFileAsUtf8UnderTheCLocale) {
  std::setlocale(LC_ALL, "C");
  const std::string sub = "Ünïcødé 日本";
  folder.writeSettings("\"LogFolder\"=\"" + folder.dir() + "/" + sub + "\"\n", false);
  auto m = start();
  m->writeLine(kDay, u"clip \u00c9t\u00e9 \u6620\u50cf \U0001F3A5 \xD800 end");
  EXPECT_EQ(folder.lines(sub + "/QUILSVC_20260307.log").at(1),
            "clip \xC3\x89t\xC3\xA9 \xE6\x98\xA0\xE5\x83\x8F \xF0\x9F\x8E\xA5 \xEF\xBF\xBD end");
}

// A link or a FIFO planted under the day's name in a folder others can
// write to: nothing is written through it and its target keeps its mode.
TEST_F(LogFileManagerTest, APlantedLinkOrFifoUnderTheDaysNameIsNeverWrittenThrough) {
  const std::string target = folder.dir() + "/../planted-target";
  std::ofstream(target) << "secret\n";
  ::chmod(target.c_str(), 0600);
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "fifo" : "link");
    const std::string name = folder.dir() + "/QUILSVC_20260307.log";
    ::unlink(name.c_str());
    ASSERT_EQ(fifo ? ::mkfifo(name.c_str(), 0666) : ::symlink(target.c_str(), name.c_str()), 0);
    folder.writeSettings("");
    auto m = start();
    m->writeLine(kDay, u"x");  // must neither block nor follow
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0600));
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "secret\n");
  }
  ::unlink(target.c_str());
}

TEST_F(LogFileManagerTest, DebugOutputCopiesLinesToStandardError) {
  folder.writeSettings("\"LogLevel\"=dword:01000001\n");
  auto m = start();
  EXPECT_TRUE(m->isDebugOutput());
  ::testing::internal::CaptureStderr();
  m->writeLine(kDay, u"to the debugger \u00e9");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("to the debugger \xC3\xA9\n"), std::string::npos) << err;
  EXPECT_EQ(folder.lines("QUILSVC_20260307.log").back(), "to the debugger \xC3\xA9");
}

// Storing a line leaves the thread's errors as they were and makes a file
// everyone may read and write whatever the umask; once the manager is
// detached, lines are dropped.
TEST_F(LogFileManagerTest, StoredLineKeepsTheThreadsErrorsAndDetachingDropsTheNext) {
  folder.writeSettings("");
  auto m = start();
  QUILPlatform_SetLastError(1234);
  errno = EAGAIN;
  const mode_t old = ::umask(022);
  m->writeLine(kDay, u"kept");
  ::umask(old);
  EXPECT_EQ(QUILPlatform_GetLastError(), 1234u);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(fs::status(folder.dir() + "/QUILSVC_20260307.log").permissions() & fs::perms(0066), fs::perms(0066));
  m->detachAppenders();
  m->writeLine(kDay, u"dropped");
  EXPECT_EQ(folder.lines("QUILSVC_20260307.log").back(), "kept");
}

}  // namespace
