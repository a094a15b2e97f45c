// Volumes of the reader: opening and closing the view of one disc, its
// capacity and label, the non-real-time metadata of its clips and the
// notifications of changes made through the writer.
//
// Non-real-time metadata records, as this reader reads them:
//
//   QUIL_GetNRTinfo   request  value1 = clip number n, naming \CLIP\C<nnnn>M01.XML
//                              (four digits, 1 to 9999); value2 unused
//                     result   value1 = size of that file in bytes, value2 = 1,
//                              pointer = NULL
//   QUIL_GetNRTdata   request  value1 = clip number n as above, value2 = the most
//                              bytes the caller wants
//                     result   value1 = bytes copied, value2 = 1 when the whole
//                              file fitted and 0 when it was cut, pointer = the
//                              bytes, in a buffer of the reader's own that stays
//                              valid until the same thread's next NRT call
//
// Both return 1 on success. A clip without metadata gives 0 with code 1000
// ("No object found in searching."); a clip number outside 1 to 9999 or a
// NULL record gives 0 with -5; a file that cannot be read gives 0 with -1306.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "quil/emulator_control.h"
#include "reader_core.h"
#include "text/format.h"

using namespace quil::emulator;
using namespace quil::emulator::reader;

namespace {

constexpr int32_t kNrtReadError = -1306;

// The metadata bytes handed out by QUIL_GetNRTdata; the caller reads them
// through the result's pointer until its next NRT call.
thread_local std::vector<uint8_t> tNrtBuffer;

bool hasAvTree(const Volume& v) {
  if (v.image) {
    const auto clip = v.image->locate(u"\\CLIP");
    const auto index = v.image->locate(u"\\INDEX.XML");
    return clip && clip->exists && clip->directory && index && index->exists && !index->directory;
  }
  const auto clip = resolvePath(v.folder, u"\\CLIP");
  const auto index = resolvePath(v.folder, u"\\INDEX.XML");
  return clip && clip->exists && clip->isDirectory && index && index->exists && !index->isDirectory;
}

std::u16string clipMetadataPath(uint32_t clip) {
  if (clip == 0 || clip > 9999) {
    fail(kInvalidParameter, quil::format(u"clip number %lu is outside 1 to 9999", clip));
  }
  return quil::format(u"\\CLIP\\C%04luM01.XML", clip);
}

[[noreturn]] void failNoMetadata(const std::u16string& path) { fail(kNotFound, path + u" is not on the disc"); }

// The host file of clip n's metadata; fails with 1000 when there is none.
std::string clipMetadataFile(const Volume& v, uint32_t clip) {
  const std::u16string path = clipMetadataPath(clip);
  const auto resolved = resolvePath(v.folder, path);
  if (!resolved || !resolved->exists || resolved->isDirectory) failNoMetadata(path);
  return resolved->host;
}

// Clip n's metadata file in an image; fails with 1000 when there is none.
std::unique_ptr<ImageFile> clipMetadataInImage(const Volume& v, uint32_t clip) {
  const std::u16string path = clipMetadataPath(clip);
  const auto where = v.image->locate(path);
  if (!where || !where->exists || where->directory) failNoMetadata(path);
  auto file = v.image->openFile(*where);
  if (!file) fail(kNrtReadError, quil::format(u"the metadata of clip %lu cannot be read from the image", clip));
  return file;
}

// Up to `wanted` bytes of clip n's metadata into the thread's buffer; the
// file's whole size.
uint64_t readClipMetadata(const Volume& v, uint32_t clip, size_t wanted) {
  size_t got = 0;
  uint64_t size = 0;
  if (v.image) {
    const auto file = clipMetadataInImage(v, clip);
    size = static_cast<uint64_t>(file->size());
    wanted = static_cast<size_t>(std::min<uint64_t>(size, wanted));
    tNrtBuffer.assign(wanted, 0);
    const ssize_t n = file->read(tNrtBuffer.data(), wanted, 0);
    got = n > 0 ? static_cast<size_t>(n) : 0;
  } else {
    const std::string host = clipMetadataFile(v, clip);
    const int fd = openBeneath(v.folder, host, O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      fail(kNrtReadError, quil::format(u"the metadata of clip %lu cannot be opened", clip));
    }
    size = static_cast<uint64_t>(st.st_size);
    wanted = static_cast<size_t>(std::min<uint64_t>(size, wanted));
    tNrtBuffer.assign(wanted, 0);
    while (got < wanted) {
      const ssize_t n = ::pread(fd, tNrtBuffer.data() + got, wanted - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ::close(fd);
  }
  if (got < wanted) fail(kNrtReadError, quil::format(u"the metadata of clip %lu could not be read whole", clip));
  return size;
}

int32_t notify(const char* function, int32_t volume, uint32_t status, const QUILCHAR* path, const QUILCHAR* newPath) {
  return guarded(function, 0, [&] {
    Tables::instance().volume(volume);
    // The reader reads the host folder on every call, so its view already
    // follows the change; the journal lets tests see what the core told it.
    recordNotification(JournalEntry{function,
                                    status,
                                    path != nullptr ? std::u16string(path) : std::u16string(),
                                    newPath != nullptr ? std::u16string(newPath) : std::u16string(),
                                    {}});
    return 1;
  });
}

}  // namespace

extern "C" {

int32_t QUIL_CreateVolume(const QUILCHAR* root, const QUIL_READER_VOLUME_PARAM* param, bool* is23modeCheckOK) {
  return guarded("QUIL_CreateVolume", -1, [&] {
    const std::u16string_view rootText = textArgument(root, u"the root path");
    if (param == nullptr) fail(kInvalidParameter, u"the volume record is NULL");
    const auto folder = discFolderOfRoot(rootText);
    if (!folder) fail(kIoError, u"no disc is reachable at " + std::u16string(rootText));
    auto v = std::make_shared<Volume>();
    v->folder = *folder;
    if (DiscImage::isImage(*folder)) {
      std::string why;
      v->image = DiscImage::open(*folder, &why);
      if (!v->image) {
        fail(kDiscCorrupted, u"the disc at " + std::u16string(rootText) + u" is the file " + quil::fromUtf8(*folder) +
                                 u", which is no disc image: " + quil::fromUtf8(why));
      }
    }
    const auto medium = MediumDescription::load(*folder);
    if (!medium) fail(kDiscCorrupted, u"the disc at " + std::u16string(rootText) + u" has no medium description");
    if (!hasAvTree(*v)) {
      fail(kDiscCorrupted, u"the disc at " + std::u16string(rootText) + u" lacks the CLIP folder or INDEX.XML");
    }
    // Another process or an earlier session may have changed the disc since
    // the account was last counted.
    SpaceAccount::of(*folder).refresh();

    v->medium = *medium;
    // The core passes its current write-protect word; a medium the drive
    // reports not writable refuses writes just as well.
    v->writeInhibited = param->volume.recInhMode != 0 || !medium->writable;
    if (is23modeCheckOK != nullptr) *is23modeCheckOK = medium->is23ModeCheckOk;
    return Tables::instance().addVolume(std::move(v));
  });
}

int32_t QUIL_CloseVolume(int32_t volume) {
  return guarded("QUIL_CloseVolume", 0, [&] {
    const std::string folder = Tables::instance().volume(volume)->folder;  // fails as below when unknown
    if (!Tables::instance().removeVolume(volume)) {
      fail(kInvalidHandle, quil::format(u"no reader volume %ld is open", volume));
    }
    // The disc folder is not kept busy by a closed volume (another volume of
    // it opens it again when it next needs it).
    if (!folder.empty()) releaseDiscFolder(folder);
    return 1;
  });
}

int32_t QUIL_GetVolumeCapacity(int32_t volume, uint64_t* total, uint64_t* free) {
  return guarded("QUIL_GetVolumeCapacity", 0, [&] {
    const auto v = Tables::instance().volume(volume);
    SpaceAccount& space = SpaceAccount::of(v->folder);
    if (total != nullptr) *total = space.capacity();
    if (free != nullptr) *free = space.freeBytes();
    return 1;
  });
}

int32_t QUIL_GetVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t length, uint32_t* lengthOut) {
  return guarded("QUIL_GetVolumeLabel", 0, [&] {
    const auto v = Tables::instance().volume(volume);
    // The writer may have relabelled the disc since it was opened.
    const auto medium = MediumDescription::load(v->folder);
    if (!medium) fail(kDiscCorrupted, u"the medium description of the disc can no longer be read");
    copyOut(medium->label, buffer, length, lengthOut, u"volume label");
    return 1;
  });
}

int32_t QUIL_GetNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result) {
  return guarded("QUIL_GetNRTinfo", 0, [&] {
    const auto v = Tables::instance().volume(volume);
    if (request == nullptr || result == nullptr) fail(kInvalidParameter, u"a metadata record is NULL");
    uint64_t size = 0;
    if (v->image) {
      size = static_cast<uint64_t>(clipMetadataInImage(*v, request->value1)->size());
    } else {
      const std::string host = clipMetadataFile(*v, request->value1);
      struct stat st {};
      if (statBeneath(v->folder, host, st) != 0) {
        fail(kNrtReadError, quil::format(u"the metadata of clip %lu cannot be examined", request->value1));
      }
      size = static_cast<uint64_t>(st.st_size);
    }
    result->value1 = static_cast<uint32_t>(size);
    result->value2 = 1;
    result->pointer = nullptr;
    return 1;
  });
}

int32_t QUIL_GetNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result) {
  return guarded("QUIL_GetNRTdata", 0, [&] {
    const auto v = Tables::instance().volume(volume);
    if (request == nullptr || result == nullptr) fail(kInvalidParameter, u"a metadata record is NULL");
    if (request->value1 > 9999) {
      fail(kInvalidParameter, quil::format(u"clip number %llu is outside 1 to 9999", request->value1));
    }
    const uint32_t clip = static_cast<uint32_t>(request->value1);
    const uint64_t size = readClipMetadata(*v, clip, static_cast<size_t>(std::min<uint64_t>(request->value2, SIZE_MAX)));
    const size_t got = tNrtBuffer.size();
    result->value1 = static_cast<uint32_t>(got);
    result->value2 = got == size ? 1 : 0;
    result->pointer = tNrtBuffer.data();
    return 1;
  });
}

int32_t QUIL_NotifyCreateFile(int32_t volume, uint32_t status, const QUILCHAR* path) {
  return notify("QUIL_NotifyCreateFile", volume, status, path, nullptr);
}

int32_t QUIL_NotifyCreateDirectory(int32_t volume, uint32_t status, const QUILCHAR* path) {
  return notify("QUIL_NotifyCreateDirectory", volume, status, path, nullptr);
}

int32_t QUIL_NotifyDeleteFile(int32_t volume, uint32_t status, const QUILCHAR* path) {
  return notify("QUIL_NotifyDeleteFile", volume, status, path, nullptr);
}

int32_t QUIL_NotifySetFileAttribute(int32_t volume, uint32_t status, const QUILCHAR* path) {
  return notify("QUIL_NotifySetFileAttribute", volume, status, path, nullptr);
}

int32_t QUIL_NotifySetVolumeLabel(int32_t volume, uint32_t status, const QUILCHAR* label) {
  // The label lives in the medium description, which QUIL_GetVolumeLabel
  // reads afresh: nothing to update here.
  return notify("QUIL_NotifySetVolumeLabel", volume, status, label, nullptr);
}

int32_t QUIL_NotifyMoveFile(int32_t volume, uint32_t status, const QUILCHAR* oldPath, const QUILCHAR* newPath) {
  return notify("QUIL_NotifyMoveFile", volume, status, oldPath, newPath);
}

int32_t QUIL_NotifyVirtualAlias(int32_t volume, const uint8_t* bytes, uint32_t count) {
  return guarded("QUIL_NotifyVirtualAlias", 0, [&] {
    const auto v = Tables::instance().volume(volume);
    if (bytes == nullptr && count != 0) fail(kInvalidParameter, u"the alias bytes are NULL");
    std::vector<uint8_t> content(bytes, bytes + count);
    recordNotification(JournalEntry{"QUIL_NotifyVirtualAlias", 0, {}, {}, content});
    // From now on \ALIAS.XML opened for reading shows these bytes instead of
    // the disc's own file, which could not be rewritten; an empty alias
    // gives the disc's file back.
    Tables::instance().setVirtualAlias(
        *v, count == 0 ? nullptr : std::make_shared<const std::vector<uint8_t>>(std::move(content)));
    return 1;
  });
}

}  // extern "C"
