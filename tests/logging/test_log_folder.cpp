#include "logging/test_log_folder.h"

#include <unistd.h>

#include <atomic>
#include <boost/interprocess/shared_memory_object.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>

namespace quiltest {

namespace {
std::atomic<int> gSerial{0};
}  // namespace

TestLogFolder::TestLogFolder() : serial_(gSerial++) {
  const char* root = std::getenv("QUIL_TEST_TMP");
  base_ = std::string(root != nullptr && *root != '\0' ? root : "/tmp") + "/logtest-" + std::to_string(getpid()) + "-" +
          std::to_string(serial_);
  std::filesystem::remove_all(base_);
  dir_ = base_ + "/log";
  std::filesystem::create_directories(dir_);
  registryPath_ = base_ + "/registry.reg";
  segment_ = "quil_test_" + std::to_string(getpid()) + "_" + std::to_string(serial_);
  // A test process that was killed leaves its segments behind, and process
  // numbers come round again: never start from another run's mutex and sizes.
  boost::interprocess::shared_memory_object::remove(segment_.c_str());
}

TestLogFolder::~TestLogFolder() {
  boost::interprocess::shared_memory_object::remove(segment_.c_str());
  std::error_code ec;
  std::filesystem::remove_all(base_, ec);
}

void TestLogFolder::writeRegistryText(const std::string& text) {
  std::ofstream(registryPath_, std::ios::binary | std::ios::trunc) << text;
}

void TestLogFolder::writeSettings(const std::string& valueLines, bool addFolder) {
  std::string text =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\n";
  text += valueLines;
  if (addFolder) text += "\"LogFolder\"=\"" + dir_ + "\"\n";
  writeRegistryText(text);
}

QUILLogger::StartupOptions TestLogFolder::options() const {
  QUILLogger::StartupOptions o;
  o.registryPath = registryPath_;
  o.programFilesFolder = base_ + "/opt";
  o.loggerName = "QUIL_TEST_LOGGER_" + std::to_string(getpid()) + "_" + std::to_string(serial_);
  o.segmentName = segment_;
  return o;
}

std::vector<std::string> TestLogFolder::fileNames() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> TestLogFolder::lines(const std::string& name) const {
  std::ifstream in(dir_ + "/" + name, std::ios::binary);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

void TestLogFolder::touch(const std::string& name, size_t bytes) const {
  std::ofstream(dir_ + "/" + name, std::ios::binary | std::ios::trunc) << std::string(bytes, 'x');
}

quil::platform::LocalTime timeAt(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                                 uint16_t second, uint32_t micro) {
  return {year, month, day, hour, minute, second, micro};
}

std::string dateKey(const quil::platform::LocalTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04u%02u%02u", t.year, t.month, t.day);
  return buf;
}

}  // namespace quiltest
