// Disc images made by tools nobody here wrote (genisoimage, mkudffs), read
// through the exports and the tool: every answer compared with the same
// call on the disc folder the image was made from.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disc.h"
#include "quil/quilcoreapi.h"
#include "text/utf.h"
#include "tools/process_runner.h"
#include "volume/emulated_volume.h"

namespace {

namespace fs = std::filesystem;
using quiltest::Outcome;
using quiltest::quoted;
using voltest::kOpenExisting;
using voltest::kRead;
using voltest::kWrite;

// Source folder, its image and a not-writable copy of the folder, made once.
struct Discs {
  std::unique_ptr<quiltest::ScratchFolder> scratch;
  fs::path folder, image, readOnlyFolder;
};
Discs* gDiscs = nullptr;

Outcome sh(const std::string& command) { return gDiscs->scratch->run(command); }

void link(char letter, const fs::path& target) {
  const fs::path entry = (*gDiscs->scratch / "drives") / (std::string(1, letter) + ":");
  fs::remove(entry);
  fs::create_symlink(target, entry);
}

bool open(char letter) {
  const std::u16string root = {static_cast<char16_t>(letter), u':'};
  _Volume_Param p = voltest::EmulatedVolume::params();
  return QUILAPI_CreateVolume(root.c_str(), &p) == 0;
}

using quiltest::slurp;

// What a caller sees of a pattern: the entries (name, attributes, size), or
// the code of the refusal.
std::string listing(const char16_t* pattern) {
  QUIL_FIND_DATA d{};
  const int32_t find = QUILAPI_FindFirstFile(0, pattern, &d);
  if (find == -1) return "error " + std::to_string(QUILAPI_GetLastError());
  std::string out;
  do {
    out += quil::toUtf8(std::u16string(d.name, std::find(d.name, d.name + 64, u'\0'))) + " " +
           std::to_string(d.attributes) + " " + std::to_string(d.size) + "\n";
  } while (QUILAPI_FindNextFile(find, &d) != 0);
  QUILAPI_FindClose(find);
  return out;
}

std::string readWhole(const std::u16string& path) {
  const int32_t h = voltest::openFile(path.c_str(), kRead, kOpenExisting, 1);
  if (h == -1) return "error " + std::to_string(QUILAPI_GetLastError());
  std::string bytes = voltest::readAll(h);
  QUILAPI_CloseHandle(h);
  return bytes;
}

// The image's size, times to the nanosecond and checksum, which must never change.
std::string imageState() {
  return sh("stat -c '%s %.9Y %.9Z' " + quoted(gDiscs->image) + " && sha256sum <" + quoted(gDiscs->image)).out;
}

class DiscImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gDiscs = new Discs;
    gDiscs->scratch = std::make_unique<quiltest::ScratchFolder>("disc-image");
    Discs& d = *gDiscs;
    d.folder = *d.scratch / "disc";
    d.image = *d.scratch / "disc.iso";
    fs::create_directories(*d.scratch / "drives");
    setenv("QUIL_DRIVES", (*d.scratch / "drives").c_str(), 1);
    ASSERT_EQ(quil::emulator::formatDisc(d.folder, {}), "");
    // Filled as a recorder and a user would: two clips, nested user data, a
    // name outside Latin-1, a general file.
    link('e', d.folder);
    ASSERT_TRUE(open('e'));
    voltest::record(u"\\CLIP\\C0001.MXF", voltest::pattern(3000001, 1));
    voltest::record(u"\\CLIP\\C0002.MXF", voltest::pattern(70000, 2));
    for (const char16_t* folder : {u"\\USERDATA\\Shots", u"\\USERDATA\\Shots\\Day 2", u"\\USERDATA\\名前"}) {
      ASSERT_NE(QUILAPI_CreateDirectory(0, folder, nullptr), 0);
    }
    const std::pair<const char16_t*, size_t> files[] = {{u"\\USERDATA\\Shots\\notes.txt", 5},
                                                        {u"\\USERDATA\\Shots\\Day 2\\take.bin", 1 << 20},
                                                        {u"\\USERDATA\\名前\\empty", 0},
                                                        {u"\\GENERAL\\setup.dat", 4097}};
    for (const auto& [path, size] : files) {
      const int32_t h = voltest::openFile(path, kWrite, voltest::kCreateNew);
      ASSERT_NE(h, -1);
      ASSERT_TRUE(voltest::writeAll(h, voltest::pattern(size, 3)));
      ASSERT_NE(QUILAPI_CloseHandle(h), 0);
    }
    ASSERT_EQ(QUILAPI_CloseVolume(0), -1);
    const Outcome made = sh("genisoimage -udf -quiet -V RECORDED -o " + quoted(d.image) + " " + quoted(d.folder));
    ASSERT_EQ(made.status, 0) << made.err;
    d.readOnlyFolder = *d.scratch / "read-only";
    fs::copy(d.folder, d.readOnlyFolder, fs::copy_options::recursive);
    auto medium = quil::emulator::MediumDescription::load(d.readOnlyFolder).value();
    medium.writable = false;
    ASSERT_TRUE(medium.save(d.readOnlyFolder));
    link('e', d.folder);
    link('f', d.image);
    link('g', d.readOnlyFolder);
  }
  static void TearDownTestSuite() {
    delete gDiscs;
    gDiscs = nullptr;
  }
  void TearDown() override { QUILAPI_CloseVolume(0); }
};

TEST_F(DiscImage, FilesListingsLookupsAndMetadataMatchTheFolder) {
  const std::u16string patterns[] = {u"\\*",          u"\\*.*",         u"\\CLIP\\*.MXF",    u"\\clip\\c0001*",
                                     u"\\CLIP\\C000?.XML", u"\\USERDATA\\*", u"\\userdata\\shots\\DAY 2\\*",
                                     u"\\USERDATA\\名前\\*", u"\\GENERAL\\SETUP.DAT", u"\\NOWHERE\\*",
                                     u"\\CLIP\\NONE*"};
  const auto answers = [&] {
    std::vector<std::string> out;
    for (const auto& p : patterns) out.push_back(quil::toUtf8(p) + ": " + listing(p.c_str()));
    // Every file, asked for in lower case (names match without regard to
    // case), against the bytes the folder holds.
    for (const auto& entry : fs::recursive_directory_iterator(gDiscs->folder)) {
      if (!entry.is_regular_file() || entry.path().filename() == ".quil-medium") continue;
      std::u16string path = u"\\" + quil::fromUtf8(fs::relative(entry.path(), gDiscs->folder).string());
      for (char16_t& c : path) c = c == u'/' ? u'\\' : (c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c);
      EXPECT_EQ(readWhole(path), slurp(entry.path())) << quil::toUtf8(path);
    }
    for (const char16_t* path : {u"\\CLIP\\c0002.mxf", u"\\USERDATA\\Shots", u"\\USERDATA\\none", u"\\NO\\none"}) {
      uint32_t attributes = 0;
      out.push_back(std::to_string(QUILAPI_GetFileAttributes(0, path, &attributes)) + " " +
                    std::to_string(attributes) + " " + std::to_string(QUILAPI_GetLastError()));
    }
    const int32_t clip = voltest::openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
    QUILCHAR id[80] = {};
    uint32_t length = 0;
    out.push_back(std::to_string(QUILAPI_GetClipId(clip, id, 80, &length)) + quil::toUtf8(id));
    QUILAPI_CloseHandle(clip);
    for (uint32_t n : {1u, 2u, 3u}) {
      NrtDataRequest request{};
      request.value1 = n, request.value2 = 100000;
      NrtResult result{};
      const int32_t got = QUILAPI_GetNRTdata(0, &request, &result);
      const auto* bytes = static_cast<const char*>(static_cast<const void*>(result.pointer));
      out.push_back(std::to_string(got) + " " + (got != 0 ? std::string(bytes, result.value1) : ""));
    }
    return out;
  };
  ASSERT_TRUE(open('g'));
  const auto fromFolder = answers();
  QUILAPI_CloseVolume(0);
  ASSERT_TRUE(open('f'));
  EXPECT_EQ(answers(), fromFolder);
}

TEST_F(DiscImage, ReadsAtAnyOffsetAndSeeks) {
  ASSERT_TRUE(open('f'));
  const std::string source = slurp(gDiscs->folder / "CLIP" / "C0001.MXF");
  const int32_t h = voltest::openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
  ASSERT_NE(h, -1);
  int64_t size = 0;
  ASSERT_NE(QUILAPI_GetFileSize(h, &size), 0);
  EXPECT_EQ(size, static_cast<int64_t>(source.size()));
  // (distance, method, bytes): across block edges, from the end, past it.
  const struct { int64_t distance; uint32_t method; uint32_t bytes; } reads[] = {
      {0, 0, 10}, {2047, 0, 2}, {2048 * 500 - 3, 0, 4096}, {100, 1, 1}, {-1, 2, 10}, {-70000, 2, 65536},
      {5, 2, 100}, {1234567, 0, 1 << 20}};
  for (const auto& r : reads) {
    int64_t at = 0;
    ASSERT_NE(QUILAPI_SetFilePointer(h, r.distance, &at, r.method), 0);
    std::string got(r.bytes, '\0');
    uint32_t done = 0;
    ASSERT_NE(QUILAPI_ReadFile(h, got.data(), r.bytes, &done), 0);
    got.resize(done);
    EXPECT_EQ(got, at < size ? source.substr(static_cast<size_t>(at), r.bytes) : "") << r.distance << "/" << r.method;
  }
  QUILAPI_CloseHandle(h);
  // More clip handles than the volume keeps reader handles for (4): each
  // read past the first round reopens its clip in the image where it was.
  std::vector<int32_t> handles;
  for (int i = 0; i < 6; ++i) handles.push_back(voltest::openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1));
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < handles.size(); ++i) {
      char got[100];
      uint32_t done = 0;
      ASSERT_NE(QUILAPI_ReadFile(handles[i], got, sizeof got, &done), 0) << i;
      EXPECT_EQ(std::string(got, done), source.substr(round * 100, 100)) << i << " in round " << round;
    }
  }
  for (const int32_t each : handles) QUILAPI_CloseHandle(each);
}

// Each writing export on the image gives what it gives on a disc folder
// whose medium is not writable, and the image file stays as it was.
TEST_F(DiscImage, WritingIsRefusedAsOnANotWritableDiscAndNothingChanges) {
  const std::string before = imageState();
  const auto attempts = [] {
    std::vector<int32_t> codes;
    const auto code = [&](bool failed) { codes.push_back(failed ? QUILAPI_GetLastError() : 0); };
    uint32_t status = 0, flags = 0;
    QUILAPI_GetVolumeInformation(0, &status, &flags);
    codes.push_back(static_cast<int32_t>(flags));
    code(voltest::openFile(u"\\USERDATA\\new.txt", kWrite, voltest::kCreateNew) == -1);
    code(voltest::openFile(u"\\USERDATA\\Shots\\notes.txt", kWrite, kOpenExisting) == -1);
    code(voltest::openFile(u"\\CLIP\\C0003.MXF", kWrite, voltest::kCreateNew) == -1);
    code(QUILAPI_DeleteFile(0, u"\\USERDATA\\Shots\\notes.txt") == 0);
    code(QUILAPI_DeleteFile(0, u"\\CLIP\\C0001.MXF") == 0);
    code(QUILAPI_MoveFile(0, u"\\USERDATA\\Shots\\notes.txt", u"\\USERDATA\\moved.txt") == 0);
    code(QUILAPI_MoveFile(0, u"\\CLIP\\C0002.MXF", u"\\CLIP\\C0009.MXF") == 0);
    code(QUILAPI_CreateDirectory(0, u"\\USERDATA\\more", nullptr) == 0);
    code(QUILAPI_RemoveDirectory(0, u"\\USERDATA\\Shots\\Day 2") == 0);
    code(QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x01) == 0);
    code(QUILAPI_SetFileAttributes(0, u"\\USERDATA\\Shots\\notes.txt", 0x01) == 0);
    code(QUILAPI_SetVolumeLabel(0, u"NEW", 3) == 0);
    code(QUILAPI_FlushVolume(0) == 0);
    return codes;
  };
  ASSERT_TRUE(open('g'));
  const auto onFolder = attempts();
  QUILAPI_CloseVolume(0);
  ASSERT_TRUE(open('f'));
  const auto onImage = attempts();
  EXPECT_EQ(onImage, onFolder);
  EXPECT_EQ(onImage.front() & 0x10, 0x10);
  uint64_t total = 0, free = 1;
  ASSERT_NE(QUILAPI_GetVolumeCapacity(0, &total, &free), 0);
  EXPECT_EQ(total, fs::file_size(gDiscs->image));
  EXPECT_EQ(free, 0u);
  QUILCHAR label[64] = {};
  uint32_t length = 0;
  ASSERT_NE(QUILAPI_GetVolumeLabel(0, label, 64, &length), 0);
  EXPECT_EQ(std::u16string(label), u"RECORDED");
  ASSERT_EQ(QUILAPI_CloseVolume(0), -1);
  EXPECT_EQ(imageState(), before);
}

// The description beside an image is read; the label stays the image's.
TEST_F(DiscImage, TheToolNamesTheImageAndItsMedium) {
  std::ofstream(gDiscs->image.string() + ".quil-medium") << "medium=W\nfirmware=0207\ncapacity=25000000000\n"
                                                             "label=IGNORED\nwritable=yes\n";
  const Outcome info = sh(quoted(QUIL_TOOL) + " --root " + quoted(gDiscs->image) + " info");
  fs::remove(gDiscs->image.string() + ".quil-medium");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out, "root             Q:\nimage            " + gDiscs->image.string() +
                          " (UDF, read-only)\nvolume status    0\nwrite protection 0x00000010 (write-protected)\n"
                          "medium           type 0x57, not writable\ndrive firmware   0207\n"
                          "capacity         25000000000 bytes, 0 free\nlabel            RECORDED\n");
}

// Images that are no readable disc: the export fails with a code, the tool
// says which file and why. Damaged entries are left out or fail alone.
TEST_F(DiscImage, DamagedImagesFailClearly) {
  const fs::path& image = gDiscs->image;
  const std::string bytes = slurp(image);
  const auto variant = [&](const std::string& name, const std::function<void(std::string&)>& change) {
    std::string copy = bytes;
    change(copy);
    std::ofstream(*gDiscs->scratch / name, std::ios::binary) << copy;
    return *gDiscs->scratch / name;
  };
  // A directory entry (file identifier descriptor, tag 257) by its 8-bit
  // name, which genisoimage puts 38 bytes after the tag.
  const auto fid = [](const std::string& b, const std::string& name) {
    const size_t at = b.find(std::string("\x08", 1) + name);
    return at != std::string::npos && at >= 38 && b[at - 38] == 1 && b[at - 37] == 1 ? at - 38 : std::string::npos;
  };
  ASSERT_EQ(sh("mkudffs -b 2048 -m bdr -r 2.50 --new-file " + quoted(*gDiscs->scratch / "vat.img") + " 20000").status, 0);
  ASSERT_EQ(sh("mkudffs -b 2048 -m hd --new-file " + quoted(*gDiscs->scratch / "blank.img") + " 2000").status, 0);
  const struct { fs::path file; std::string reason; } refused[] = {
      {variant("short.img", [](std::string& b) { b.resize(4000); }), "too few for a UDF image"},
      {variant("zero.img", [](std::string& b) { b.replace(256 * 2048, 2048, 2048, '\0'); }),
       "no anchor volume descriptor at sector 256"},
      {variant("cut.img", [](std::string& b) { b.resize(260 * 2048); }), ""},
      {*gDiscs->scratch / "vat.img", "virtual allocation table"},
      {*gDiscs->scratch / "blank.img", "no CLIP folder and INDEX.XML"}};
  for (const auto& r : refused) {
    link('h', r.file);
    EXPECT_FALSE(open('h')) << r.file;
    EXPECT_NE(QUILAPI_GetLastError(), 0);
    const Outcome tool = sh(quoted(QUIL_TOOL) + " --root " + quoted(r.file) + " ls");
    EXPECT_NE(tool.status, 0);
    EXPECT_NE(tool.err.find(r.file.filename().string()), std::string::npos) << tool.err;
    EXPECT_NE(tool.err.find(r.reason), std::string::npos) << tool.err;
  }

  // "Day 2" made to hold itself, the name outside Latin-1 (16-bit) a lone
  // surrogate and notes.txt a symbolic link (its file entry's type 12): the
  // first is walked to the depth a volume path can reach, the others are
  // left out.
  const fs::path damaged = variant("damaged.img", [&](std::string& b) {
    const size_t self = fid(b, "Day 2"), shots = fid(b, "Shots"), notes = fid(b, "notes.txt");
    ASSERT_TRUE(self != std::string::npos && shots != std::string::npos && notes != std::string::npos);
    b.replace(self + 24, 4, b.substr(shots + 24, 4));
    for (size_t at = 0; at + 2048 <= b.size(); at += 2048) {  // the file entry whose location the entry names
      if (b[at] == 5 && b[at + 1] == 1 && b.compare(at + 12, 4, b, notes + 24, 4) == 0) b[at + 27] = 12;
    }
    const size_t wide = b.find(std::string("\x10\x54\x0D", 3));
    ASSERT_NE(wide, std::string::npos);
    b[wide + 1] = '\xD8', b[wide + 2] = '\x00';
  });
  link('h', damaged);
  ASSERT_TRUE(open('h'));
  EXPECT_EQ(listing(u"\\USERDATA\\*"), "Shots 16 0\n");
  EXPECT_EQ(listing(u"\\USERDATA\\Shots\\Day 2\\Day 2\\*"), "Day 2 16 0\n");
  QUILAPI_CloseVolume(0);
  // A walk down the folder that holds itself ends where paths end, with the
  // code of a name too long.
  const Outcome walk = sh("timeout 60 " + quoted(QUIL_TOOL) + " --root " + quoted(damaged) + " ls -R \\\\USERDATA");
  EXPECT_EQ(walk.status, 1);
  EXPECT_NE(walk.err.find(": -9 "), std::string::npos) << walk.err.substr(0, 200);
}

TEST_F(DiscImage, FilesOverFourGiB) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < (5ull << 30)) {
    GTEST_SKIP() << "files are limited to " << limit.rlim_cur << " bytes here (ulimit -f)";
  }
  const fs::path folder = *gDiscs->scratch / "big";
  ASSERT_EQ(quil::emulator::formatDisc(folder, {}), "");
  const uint64_t size = (4ull << 30) + 300 * 1024 * 1024 + 6;
  // Holes kept, in the file and in the image: they take almost no room.
  const fs::path image = *gDiscs->scratch / "big.iso";
  const Outcome made = sh("truncate -s " + std::to_string(size - 6) + " " + quoted(folder / "USERDATA/large.bin") +
                          " && printf marker >>" + quoted(folder / "USERDATA/large.bin") +
                          " && genisoimage -udf -allow-limited-size -quiet -o - " + quoted(folder) + " | dd of=" +
                          quoted(image) + " conv=sparse bs=1M status=none");
  ASSERT_EQ(made.status, 0) << made.err;
  fs::remove_all(folder);
  link('h', image);
  ASSERT_TRUE(open('h'));
  EXPECT_EQ(listing(u"\\USERDATA\\*"), "large.bin 128 " + std::to_string(size) + "\n");
  const int32_t h = voltest::openFile(u"\\USERDATA\\LARGE.BIN", kRead, kOpenExisting, 1);
  ASSERT_NE(h, -1);
  int64_t at = 0;
  ASSERT_NE(QUILAPI_SetFilePointer(h, -8, &at, 2), 0);
  char tail[16] = {};
  uint32_t done = 0;
  ASSERT_NE(QUILAPI_ReadFile(h, tail, sizeof tail, &done), 0);
  EXPECT_EQ(std::string(tail, done), std::string("\0\0marker", 8));
  QUILAPI_CloseHandle(h);
  fs::remove(image);
}

}  // namespace
