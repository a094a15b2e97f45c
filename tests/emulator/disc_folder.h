// A freshly formatted emulated disc in a folder of the test's own, removed
// afterwards, with the host-side helpers the emulator's tests share.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "disc.h"
#include "quil/emulator_control.h"
#include "text/utf.h"

namespace emutest {

namespace fs = std::filesystem;
using quil::emulator::MediumDescription;

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
