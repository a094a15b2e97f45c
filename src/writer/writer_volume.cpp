// Opening the writer side of a volume: the medium read through the driver,
// the writer's volume, its checks, and the CMPTR folder.
#include "writer/writer_volume.h"

#include <cerrno>
#include <cstring>

#include "logging/trace.h"
#include "platform/host.h"
#include "text/utf.h"
#include "writer/glys_ctrl_volume.h"
#include "writer/writer_call.h"

namespace quil::writer {

namespace {

constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterVolume";
constexpr int32_t kDriverCommandError = -3101;
constexpr uint32_t kUnsupportedTree = 0x8400000F;
constexpr uint32_t kWriteProtectTree = 0x84000010;

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

template <class... A>
void info(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 2, 0, kSource, function, line, format, args...);
}

const char* trueFalse(bool value) { return value ? "true" : "false"; }

}  // namespace

bool isRMedium(uint8_t mediumType) {
  switch (mediumType) {
    case 0x52:
    case 0x56:
    case 0x5A:
    case 0xC2:
    case 0xD2:
      return true;
    default:
      return false;
  }
}

WriterVolume::~WriterVolume() = default;

WriterVolumeResult WriterVolume::create(const std::u16string& root, const _Volume_Param& param, Media_Param_& media,
                                        QUILWriter::QUILCacheReader& reader) {
  WriterVolumeResult result;
  try {
    result.volume.reset(new WriterVolume(root, param));  // private constructor: made only here
  } catch (...) {
    result.status = WriterStatus::fromCode(-1);
    return result;
  }
  result.status = result.volume->CreateVolume(media, reader);
  if (result.status.status() > kStatusNoChange) result.volume.reset();
  return result;
}

WriterStatus WriterVolume::CreateVolume(Media_Param_& media, QUILWriter::QUILCacheReader& reader) {
  constexpr auto fn = u"WriterVolume::CreateVolume";
  {
    // The medium as the driver reports it; the device is released at the end
    // of this block on every path.
    GlysCtrlVolume device(root_);
    if (!device.openVolumeHandle()) return WriterStatus::fromCode(kDriverCommandError);
    GlysCtrlVolume::MountInformation mount{};
    if (!device.getVolumeMountInformation(mount)) return WriterStatus::fromCode(kDriverCommandError);
    media.mediumType = mountMediumType(mount);
    media.isRMedia = isRMedium(media.mediumType);
    GlysCtrlVolume::DeviceInformation deviceInfo{};
    if (!device.getDeviceInformation(deviceInfo)) return WriterStatus::fromCode(kDriverCommandError);
    media.fwVersion = firmwareRevision(deviceInfo);
    trace(fn, __LINE__, u"Media_Param::isRMedia=%hs, mediaParam.fwVersion=%lu", trueFalse(media.isRMedia),
          media.fwVersion);
  }
  return catchWriterCall(kSource, fn, __LINE__, [&] {
    trace(fn, __LINE__, u"QUILWriter::CreateVolume(\"%ls\")", root_);
    QUILWriter::CreateVolume(root_, param_, media, &reader);
    trace(fn, __LINE__, u"SUCCESS\n");
    return WriterStatus(kStatusSuccess);
  });
}

bool WriterVolume::registerPrivilegedProcess() { return GlysCtrlVolume::registerPrivilegedProcess(root_); }

WriterStatus WriterVolume::checkVolume() {
  constexpr auto fn = u"WriterVolume::checkVolume";
  return catchWriterCall(kSource, fn, __LINE__, [&] {
    int32_t result = 0;
    trace(fn, __LINE__, u"QUILWriter::CheckVolume(\"%ls\", false, %p)\n", root_, static_cast<const void*>(&result));
    QUILWriter::CheckVolume(root_, false, &result);
    trace(fn, __LINE__, u"SUCCESS result=%d\n", result);
    if (result == 0) return WriterStatus(kStatusSuccess);
    return WriterStatus::fromWriterCode(static_cast<uint32_t>(result), kStatusFailure);
  });
}

KeldaCheck WriterVolume::checkKeldaFile(const _Volume_Param& param, std::string& discId,
                                        QUILWriter::QUIL_AliasRename& aliasRename) {
  constexpr auto fn = u"WriterVolume::checkKeldaFile";
  try {
    trace(fn, __LINE__, u"QUILWriter::CheckKeldaFile(\"%ls\")\n", root_);
    QUILWriter::CheckKeldaFile(root_, param, discId, aliasRename);
    trace(fn, __LINE__, u"SUCCESS\n");
    return kKeldaGood;
  } catch (const QUILWriter::QUILWriterException& e) {
    logWriterException(e);
    // Told apart by the writer code itself: the error map turns 0x84000010
    // into -1 like many others.
    if (e.errorCode() == kUnsupportedTree) return kKeldaUnsupported;
    if (e.errorCode() == kWriteProtectTree) return kKeldaWriteProtect;
    return kKeldaOtherFailure;
  } catch (const std::exception& e) {
    logStandardException(kSource, fn, __LINE__, e);
    return kKeldaUnsupported;
  } catch (...) {
    logUnknownException(kSource, fn, __LINE__);
    return kKeldaUnsupported;
  }
}

bool WriterVolume::parseDiscmeta(const char* text, uint32_t length, std::string& discId, bool& versionIsCurrent) {
  constexpr auto fn = u"WriterVolume::parseDiscmeta";
  try {
    return QUILWriter::parseDiscmeta(text, length, discId, versionIsCurrent);
  } catch (const QUILWriter::QUILWriterException& e) {
    logWriterException(e);
  } catch (const std::exception& e) {
    logStandardException(kSource, fn, __LINE__, e);
  } catch (...) {
    logUnknownException(kSource, fn, __LINE__);
  }
  return false;
}

bool WriterVolume::checkCmptrFolder(bool& created) {
  constexpr auto fn = u"WriterVolume::checkCmptrFolder";
  created = false;
  // A volume opened write-protected by the caller is not touched at all.
  if (param_.recInhMode != 0) return true;
  // A failure of the host calls, in the words a file-system error is logged with.
  const auto hostFailure = [&](const std::string& what, int error) {
    try {
      info(fn, __LINE__, u"%ls\n",
           quil::format(u"WARNING filesystem_error : what=\"%hs\" system_error=%d", what + ": " + std::strerror(error),
                        error));
    } catch (...) {
    }
    return false;
  };
  try {
    // \KELDA\CMPTR below the volume root, reached from a descriptor of
    // KELDA: anything of that name counts, a link too, but nothing is made
    // or looked at through a link (a disc folder is data and may point
    // anywhere), however the folder changes meanwhile.
    const std::string root = quil::platform::hostPathOfVolumeRoot(root_);
    const quil::platform::Descriptor kelda(quil::platform::openSubfolder(root, "KELDA"));
    if (!kelda) return hostFailure(root + "/KELDA", errno);
    if (quil::platform::entryExistsAt(kelda.get(), "CMPTR")) return true;

    info(fn, __LINE__, u"CMPTR is not exist. will create CMPTR directory...");
    GlysCtrlVolume device(root_);
    GlysCtrlVolume::MountInformation mount{};
    if (!device.openVolumeHandle() || !device.getVolumeMountInformation(mount)) return false;
    if (mountNotWritable(mount)) {
      info(fn, __LINE__, u" this volume is not writeble.");
      return true;
    }
    if (!device.enterPrivilegedMode()) return false;
    if (isRMedium(mountMediumType(mount)) && !device.markVolumeDirty(2)) return false;
    info(fn, __LINE__, u"will create CMPTR directory...");
    if (quil::platform::makeFolderAt(kelda.get(), "CMPTR") != 0) {
      // Made by another process since the look above: there it is.
      if (errno == EEXIST) return true;
      return hostFailure(root + "/KELDA/CMPTR", errno);
    }
    info(fn, __LINE__, u"create CMPTR directory, SUCCESS");
    created = true;
    return true;  // the device's release leaves privileged mode
  } catch (const std::exception& e) {
    try {
      info(fn, __LINE__, u"WARNING %ls\n", quil::format(u"std::exception : what=\"%hs\"", e.what()));
    } catch (...) {
    }
  } catch (...) {
    try {
      info(fn, __LINE__, u"WARNING %ls\n", std::u16string(u"unknown exception"));
    } catch (...) {
    }
  }
  return false;
}

// The writer library must not throw from these two; should it all the
// same, the volume opening goes on as if it had not (nothing to map).
void WriterVolume::setVirtualAlias(const std::vector<uint8_t>& alias) {
  try {
    QUILWriter::setVirtualAlias(alias);
  } catch (...) {
  }
}

void WriterVolume::CreateVolumeEnd() {
  try {
    QUILWriter::CreateVolumeEnd();
  } catch (...) {
  }
}

}  // namespace quil::writer
