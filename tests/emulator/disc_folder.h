// A freshly formatted emulated disc in a folder of the test's own, removed
// afterwards, with the host-side helpers and the ways of reading a reader or
// writer failure that the emulator's tests share.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>

#include "disc.h"
#include "quil/emulator_control.h"
#include "quil/sibling/quilreader.h"
#include "quil/sibling/quilwriter.h"
#include "text/utf.h"

namespace emutest {

namespace fs = std::filesystem;
using quil::emulator::MediumDescription;

inline constexpr uint32_t kRead = 0x80000000u, kWrite = 0x40000000u;
inline constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4, kTruncateExisting = 5;

// A reader failure as the core sees it: the reader's code and its Windows error.
struct Outcome {
  int32_t code;
  uint32_t windows;
  bool operator==(const Outcome&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "{" << o.code << ", " << o.windows << "}";
}
inline Outcome last() {
  return {QUIL_GetLastErrorWithMessage(nullptr, 0, nullptr), QUILReaderLastError::QUILLastErrorManager::get()};
}
inline void clearErrors() {
  QUIL_SetLastErrorWithMessage(0, u"");
  QUILReaderLastError::QUILLastErrorManager::clear();
}
// The call's result and the failure it leaves, both errors cleared before it.
#define EXPECT_FAILS(call, result, ...)                               \
  do {                                                                \
    ::emutest::clearErrors();                                         \
    EXPECT_EQ((call), (result));                                      \
    EXPECT_EQ(::emutest::last(), (::emutest::Outcome{__VA_ARGS__}));  \
  } while (0)

// The code of the writer exception a call throws; a call that returns is a failure.
inline uint32_t thrownBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const QUILWriter::QUILWriterException& e) {
    return e.errorCode();
  }
  ADD_FAILURE() << "no QUILWriterException";
  return 0;
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class DiscFolder : public testing::Test {
 protected:
  // The medium the disc is formatted with.
  virtual MediumDescription medium() const { return MediumDescription{.label = u"", .capacity = 1 << 20}; }

  void SetUp() override {
    const char* env = std::getenv("QUIL_TEST_TMP");
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    std::ranges::replace(name, '/', '_');  // parameterised names carry slashes
    folder = std::string(env != nullptr && *env != '\0' ? env : "/tmp") + "/emu-" + name + "-" +
             std::to_string(getpid());
    fs::remove_all(folder);
    ASSERT_EQ(quil::emulator::formatDisc(folder, medium()), "");
    folder = fs::canonical(folder).string();
    root = quil::fromUtf8(folder);
    quil::emulator::reset();
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string host(const std::string& relative) const { return folder + "/" + relative; }
  void editMedium(const std::function<void(MediumDescription&)>& change) const {
    auto m = *MediumDescription::load(folder);
    change(m);
    ASSERT_TRUE(m.save(folder));
  }

  std::string folder;
  std::u16string root;
};

}  // namespace emutest
