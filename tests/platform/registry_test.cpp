#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quil::platform::Registry;

const char* kExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\r\n"
    "\"LogLevel\"=dword:0000000a\r\n"
    "\"LogFolder\"=\"C:\\\\Logs\\\\quil \\\"x\\\"\"\r\n"
    "\"Binary\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\"Gone\"=-\r\n"
    "; a comment\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A}]\r\n"
    "\"DisplayName\"=\"First\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\B\\Nested]\r\n"
    "\"DisplayName\"=\"Nested\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Removed]\r\n"
    "\"Ignored\"=dword:00000001\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]\r\n"
    "\"LogLevel\"=dword:00000007\r\n";

constexpr const char16_t* kKey = u"SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc";

TEST(Registry, ReadsTheExport) {
  const auto reg = Registry::fromText(kExport);
  EXPECT_EQ(reg.readDword(kKey, u"LogLevel"), 10u);
  EXPECT_EQ(reg.readString(kKey, u"LogFolder", 1024), std::u16string(u"C:\\Logs\\quil \"x\""));
  // Names compare without regard to case, as in the registry.
  EXPECT_EQ(reg.readDword(u"software\\merrow corporation\\talvo drive\\QUILSVC", u"loglevel"), 10u);
  // Types are not converted; absent and deleted values are absent.
  EXPECT_FALSE(reg.readString(kKey, u"LogLevel", 1024));
  EXPECT_FALSE(reg.readDword(kKey, u"LogFolder"));
  EXPECT_FALSE(reg.readDword(kKey, u"Gone"));
  EXPECT_FALSE(reg.readDword(kKey, u"Binary"));
  // Only machine keys count, and deletion sections define nothing.
  EXPECT_FALSE(reg.keyExists(u"SOFTWARE\\Removed"));
  EXPECT_TRUE(reg.keyExists(u"SOFTWARE\\Microsoft"));  // a parent of a defined key
  EXPECT_FALSE(reg.keyExists(u"SOFTWARE\\Nobody"));
  // Subkeys are the immediate children, in file order.
  EXPECT_EQ(reg.subkeyNames(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
            (std::vector<std::u16string>{u"{A}", u"B"}));
  // A string that does not fit the buffer is not read: "First" and its NUL
  // need 12 bytes of UTF-16.
  const auto key = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A}";
  EXPECT_EQ(reg.readString(key, u"DisplayName", 12), std::u16string(u"First"));
  EXPECT_FALSE(reg.readString(key, u"DisplayName", 11));
}

// A UTF-16 export with its byte-order mark, malformed lines that are skipped
// (a value before any key, a bad or over-long number, an unclosed name),
// and a missing file that defines nothing.
TEST(Registry, ReadsUtf16AndSkipsWhatItCannotRead) {
  std::string utf16 = "\xFF\xFE";
  const std::u16string text = u"REGEDIT4\n\"Orphan\"=dword:00000001\n[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"\u00e9t\u00e9\"\n"
                              u"\"Bad\"=dword:zz\n\"Open=\"x\n\"Long\"=dword:123456789\n\"N\"=dword:00000020\n";
  for (char16_t c : text) utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  const auto reg = Registry::fromText(utf16);
  EXPECT_EQ(reg.readString(u"K", u"V", 64), std::u16string(u"\u00e9t\u00e9"));
  EXPECT_EQ(reg.readDword(u"K", u"N"), 32u);
  for (const char16_t* skipped : {u"Orphan", u"Bad", u"Long"}) EXPECT_FALSE(reg.readDword(u"K", skipped));
  EXPECT_FALSE(Registry::fromFile("/nonexistent/registry.reg").keyExists(u"K"));
}

}  // namespace
