// The interfaces of the reader and writer libraries as the core sees them.
// Nothing here calls into either library: the checks are on types, layouts,
// virtual slots and the header-only exception, so the test links with
// GoogleTest alone.
#include <quil/sibling/quilreader.h>
#include <quil/sibling/quilwriter.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using namespace QUILWriter;
using u16 = std::u16string;

template <typename Expected, typename Actual>
constexpr bool sameType(Actual) { return std::is_same_v<Expected, Actual>; }

// --- reader functions: exact C signatures ----------------------------------

static_assert(sameType<int32_t (*)(const QUILCHAR*, const QUIL_READER_VOLUME_PARAM*, bool*)>(&QUIL_CreateVolume));
static_assert(sameType<int32_t (*)(int32_t, const QUILCHAR*, uint32_t, uint32_t, void*, uint32_t, uint32_t, void*)>(
    &QUIL_CreateFile));
static_assert(sameType<int32_t (*)(int32_t, void*, uint32_t, uint32_t*)>(&QUIL_ReadFile));
static_assert(sameType<int32_t (*)(int32_t, const void*, uint32_t, uint32_t*)>(&QUIL_WriteFile));
static_assert(sameType<int32_t (*)(int32_t, int64_t, int64_t*, uint32_t)>(&QUIL_SetFilePointer));
static_assert(sameType<int32_t (*)(int32_t, const QUILCHAR*, QUIL_FIND_DATA*)>(&QUIL_FindFirstFile));
static_assert(sameType<int32_t (*)(int32_t, const NrtInfoRequest*, NrtResult*)>(&QUIL_GetNRTinfo));
static_assert(sameType<int32_t (*)(int32_t, uint32_t, const QUILCHAR*, const QUILCHAR*)>(&QUIL_NotifyMoveFile));
static_assert(sameType<int32_t (*)(int32_t, const uint8_t*, uint32_t)>(&QUIL_NotifyVirtualAlias));
static_assert(sameType<int32_t (*)(QUILCHAR*, uint32_t, uint32_t*)>(&QUIL_GetLastErrorWithMessage));
static_assert(sameType<void (*)(int32_t, const QUILCHAR*)>(&QUIL_SetLastErrorWithMessage));
static_assert(sameType<uint32_t (*)()>(&QUILReaderLastError::QUILLastErrorManager::get));

// --- writer factories and free functions -----------------------------------

static_assert(sameType<std::shared_ptr<ClipWriter> (*)(const u16&, const u16&, const _Clip_Param&)>(&ClipWriter::create));
static_assert(sameType<std::shared_ptr<EditlistWriter> (*)(const u16&, const u16&, _QUIL_NAMING_MODE, _QUIL_UMID_MODE)>(
    &EditlistWriter::open));
static_assert(sameType<std::shared_ptr<DiscMetaWriter> (*)(const u16&, bool)>(&DiscMetaWriter::open));
static_assert(sameType<std::shared_ptr<UserDataWriter> (*)(const u16&, const u16&, uint32_t, uint32_t, void*, uint32_t,
                                                             uint32_t, void*, bool)>(&UserDataWriter::createFile));
static_assert(sameType<void (*)(const u16&, const _Volume_Param&, Media_Param_&, QUILCacheReader*)>(&CreateVolume));
static_assert(sameType<void (*)(const u16&, bool, int32_t*)>(&CheckVolume));
static_assert(sameType<void (*)(const u16&, const _Volume_Param&, std::string&, QUIL_AliasRename&)>(&CheckKeldaFile));
static_assert(sameType<bool (*)(const char*, uint32_t, std::string&, bool&)>(&parseDiscmeta));
static_assert(sameType<void (*)(const u16&, const u16&, bool, _QUIL_NAMING_MODE)>(&LockClipFile));
static_assert(sameType<void (*)(const u16&, const u16&, const u16&, uint32_t)>(&MoveGeneralFileEx));
static_assert(sameType<void (*)(const u16&, const u16&, void*)>(&CreateUserDataDirectory));
static_assert(sameType<void (*)(const std::vector<uint8_t>&)>(&setVirtualAlias));
static_assert(sameType<void (*)(uint32_t)>(&QUILWriterLastError::QUILLastErrorManager::set));

// --- writer objects: operations and class shape ----------------------------

static_assert(sameType<void (ClipWriter::*)(int32_t*)>(&ClipWriter::Close));
static_assert(sameType<void (ComponentWriter::*)()>(&ComponentWriter::Close));
static_assert(sameType<void (XMLReaderWriter::*)(int64_t, int64_t*, _QUIL_WHENCE)>(&XMLReaderWriter::Seek));
static_assert(sameType<void (UserDataWriter::*)(int64_t, int64_t, int64_t)>(&UserDataWriter::SetFileTime));

static_assert(std::is_abstract_v<ClipWriter> && std::has_virtual_destructor_v<ClipWriter>);
static_assert(std::is_abstract_v<UserDataWriter> && std::has_virtual_destructor_v<UserDataWriter>);
static_assert(std::is_base_of_v<XMLReaderWriter, AliasWriter> && std::is_base_of_v<XMLReaderWriter, DiscMetaWriter> &&
              std::is_base_of_v<XMLReaderWriter, EditlistWriter> &&
              std::is_base_of_v<XMLReaderWriter, ClipNRTMetaWriter> &&
              std::is_base_of_v<XMLReaderWriter, EdlNRTMetaWriter>);
static_assert(!std::is_base_of_v<XMLReaderWriter, UserMetaWriter>);

// The writer holds the cache reader without owning it: no virtual destructor
// and no way to destroy the object through the interface.
static_assert(std::is_abstract_v<QUILCacheReader>);
static_assert(!std::has_virtual_destructor_v<QUILCacheReader>);
static_assert(!std::is_destructible_v<QUILCacheReader>);
static_assert(sizeof(QUILCacheReader) == sizeof(void*), "only the table pointer");

// The enumerations travel as 32-bit values.
static_assert(std::is_same_v<std::underlying_type_t<_QUIL_NAMING_MODE>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<_QUIL_UMID_MODE>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<_QUIL_FILE_TYPE>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<_QUIL_WHENCE>, uint32_t>);

// ---------------------------------------------------------------------------

class RecordingCacheReader final : public QUILCacheReader {
public:
    std::vector<std::string> calls;
    const QUILCHAR* openedPath = nullptr;
    int32_t lastFile = 0;
    void* lastBuffer = nullptr;
    uint32_t lastSize = 0;

    int32_t cacheOpen(const QUILCHAR* path) override
    {
        calls.push_back("open");
        openedPath = path;
        return 11;
    }
    int32_t cacheClose(int32_t file) override
    {
        calls.push_back("close");
        lastFile = file;
        return 22;
    }
    int32_t cacheRead(int32_t file, void* buffer, uint32_t size, uint32_t* read) override
    {
        calls.push_back("read");
        lastFile = file;
        lastBuffer = buffer;
        lastSize = size;
        *read = size - 1;
        return 33;
    }
    int32_t cacheGetSize(int32_t file, int64_t* size) override
    {
        calls.push_back("size");
        lastFile = file;
        *size = INT64_C(0x100000000);
        return 44;
    }
};

TEST(QUILCacheReaderTest, EachOperationReachesItsOverrideThroughTheInterface)
{
    RecordingCacheReader recorder;
    QUILCacheReader* reader = &recorder;
    const QUILCHAR path[] = u"\\DISCMETA.XML";

    EXPECT_EQ(reader->cacheOpen(path), 11);
    EXPECT_EQ(recorder.openedPath, path);

    char buffer[8];
    uint32_t read = 0;
    EXPECT_EQ(reader->cacheRead(5, buffer, sizeof buffer, &read), 33);
    EXPECT_EQ(recorder.lastFile, 5);
    EXPECT_EQ(recorder.lastBuffer, buffer);
    EXPECT_EQ(recorder.lastSize, sizeof buffer);
    EXPECT_EQ(read, sizeof buffer - 1);

    int64_t size = 0;
    EXPECT_EQ(reader->cacheGetSize(6, &size), 44);
    EXPECT_EQ(recorder.lastFile, 6);
    EXPECT_EQ(size, INT64_C(0x100000000));

    EXPECT_EQ(reader->cacheClose(7), 22);
    EXPECT_EQ(recorder.lastFile, 7);

    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"open", "read", "size", "close"}));
}

#if defined(__x86_64__) && defined(__GXX_ABI_VERSION)
// Under the Itanium C++ ABI on x86-64 a pointer to a virtual member function
// holds 1 + the byte offset of its slot in the virtual table. The writer's
// objects and the cache reader are exchanged between separately built
// libraries, so their slot order is part of the interface.
template <typename MemberFunction>
std::ptrdiff_t slotOf(MemberFunction function)
{
    struct Representation {
        std::ptrdiff_t pointer;
        std::ptrdiff_t adjustment;
    };
    static_assert(sizeof(MemberFunction) == sizeof(Representation));
    Representation representation;
    std::memcpy(&representation, &function, sizeof representation);
    if ((representation.pointer & 1) == 0)
        return -1;
    return (representation.pointer - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(VirtualSlotOrderTest, CacheReaderHasFourSlotsInOrder)
{
    EXPECT_EQ(slotOf(&QUILCacheReader::cacheOpen), 0);
    EXPECT_EQ(slotOf(&QUILCacheReader::cacheClose), 1);
    EXPECT_EQ(slotOf(&QUILCacheReader::cacheRead), 2);
    EXPECT_EQ(slotOf(&QUILCacheReader::cacheGetSize), 3);
}

TEST(VirtualSlotOrderTest, WriterObjectsKeepTheirOperationOrder)
{
    EXPECT_EQ(slotOf(&ClipWriter::GetClipId), 0);
    EXPECT_EQ(slotOf(&ClipWriter::Seek), 1);
    EXPECT_EQ(slotOf(&ClipWriter::Write), 2);
    EXPECT_EQ(slotOf(&ClipWriter::GetFileSize), 3);
    EXPECT_EQ(slotOf(&ClipWriter::GetFileType), 4);
    EXPECT_EQ(slotOf(&ClipWriter::Close), 5);
    EXPECT_EQ(slotOf(&ClipWriter::SetFileSize), 6);

    EXPECT_EQ(slotOf(&ComponentWriter::Close), 0);
    EXPECT_EQ(slotOf(&ComponentWriter::Seek), 1);
    EXPECT_EQ(slotOf(&ComponentWriter::Write), 2);
    EXPECT_EQ(slotOf(&ComponentWriter::GetFileSize), 3);
    EXPECT_EQ(slotOf(&ComponentWriter::GetFileType), 4);
    EXPECT_EQ(slotOf(&ComponentWriter::SetFileSize), 5);

    EXPECT_EQ(slotOf(&UserDataWriter::Close), 0);
    EXPECT_EQ(slotOf(&UserDataWriter::Read), 1);
    EXPECT_EQ(slotOf(&UserDataWriter::Seek), 2);
    EXPECT_EQ(slotOf(&UserDataWriter::Write), 3);

    for (auto slots : {std::vector<std::ptrdiff_t>{slotOf(&UserMetaWriter::Close), slotOf(&UserMetaWriter::GetFileSize),
                                                   slotOf(&UserMetaWriter::Read), slotOf(&UserMetaWriter::Seek),
                                                   slotOf(&UserMetaWriter::Write), slotOf(&UserMetaWriter::SetFileSize)},
                       std::vector<std::ptrdiff_t>{slotOf(&XMLReaderWriter::Close), slotOf(&XMLReaderWriter::GetFileSize),
                                                   slotOf(&XMLReaderWriter::Read), slotOf(&XMLReaderWriter::Seek),
                                                   slotOf(&XMLReaderWriter::Write), slotOf(&XMLReaderWriter::SetFileSize)}})
        EXPECT_EQ(slots, (std::vector<std::ptrdiff_t>{0, 1, 2, 3, 4, 5}));
}
#endif

// ---------------------------------------------------------------------------

[[noreturn]] void throwWriterFailure()
{
    throw QUILWriterException(0x82000002u, 1, "ClipWriterImpl.cpp", "ClipWriterImpl::Write", 417, "disc full");
}

TEST(QUILWriterExceptionTest, CarriesCodeRepairStatusAndThrowSite)
{
    try {
        throwWriterFailure();
        FAIL() << "nothing thrown";
    } catch (const QUILWriterException& e) {
        EXPECT_EQ(e.errorCode(), 0x82000002u);
        EXPECT_EQ(e.repairStatus(), 1);
        EXPECT_EQ(e.file(), "ClipWriterImpl.cpp");
        EXPECT_EQ(e.function(), "ClipWriterImpl::Write");
        EXPECT_EQ(e.line(), 417);
        EXPECT_STREQ(e.what(), "disc full");

        // The catching frame may keep a copy beyond the handler.
        const QUILWriterException copy = e;
        EXPECT_EQ(copy.errorCode(), 0x82000002u);
        EXPECT_STREQ(copy.what(), "disc full");
    }
}

TEST(QUILWriterExceptionTest, IsCaughtAsAStandardException)
{
    bool caught = false;
    try {
        throwWriterFailure();
    } catch (const std::exception& e) {
        caught = true;
        EXPECT_STREQ(e.what(), "disc full");
        const auto* writer = dynamic_cast<const QUILWriterException*>(&e);
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(writer->line(), 417);
    }
    EXPECT_TRUE(caught);
}

// ---------------------------------------------------------------------------

TEST(RecordLayoutTest, ReaderVolumeRecordIsVolumeParametersThenMedia)
{
    static_assert(sizeof(QUIL_READER_VOLUME_PARAM) == 228);
    static_assert(offsetof(QUIL_READER_VOLUME_PARAM, media) == 212);

    QUIL_READER_VOLUME_PARAM record{};
    record.volume.recInhMode = 0x40000010u;
    record.volume.VerifyOnWrite = true;
    record.media.isRMedia = true;
    record.media.fwVersion = 123;
    record.media.mediumType = 'S';

    unsigned char bytes[228];
    std::memcpy(bytes, &record, sizeof bytes);
    EXPECT_EQ(bytes[48], 0x10);
    EXPECT_EQ(bytes[51], 0x40);
    EXPECT_EQ(bytes[210], 1);
    EXPECT_EQ(bytes[211], 0);  // padding of the volume part, not the medium
    EXPECT_EQ(bytes[212], 1);
    EXPECT_EQ(bytes[212 + 8], 123);
    EXPECT_EQ(bytes[212 + 12], 'S');
}

TEST(RecordLayoutTest, ClipParamPutsUmidModeAfterTheVolumeParameters)
{
    _Clip_Param param{};
    param.volumeParam.namingMode = 2;
    param.umidMode = QUIL_UMID_MODE_2;
    const _Component_Param& component = param;  // one layout for both

    unsigned char bytes[sizeof param];
    std::memcpy(bytes, &component, sizeof bytes);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[212], 2);
    EXPECT_EQ(sizeof bytes, 216u);
}

TEST(RecordLayoutTest, RenameRecordsKeepDirectoryOldNewOrder)
{
    QUIL_AliasRename aliasRename;
    EXPECT_TRUE(aliasRename.virtualAlias.empty());
    EXPECT_TRUE(aliasRename.renames.empty());

    aliasRename.renames.push_back({u"CLIP", u"C0001.MXF", u"C0002.MXF"});
    EXPECT_EQ(aliasRename.renames[0].directory, u"CLIP");
    EXPECT_EQ(aliasRename.renames[0].oldName, u"C0001.MXF");
    EXPECT_EQ(aliasRename.renames[0].newName, u"C0002.MXF");
}

TEST(WriterEnumerationTest, WhenceMatchesTheWin32MoveMethods)
{
    // The core hands a caller's FILE_BEGIN / FILE_CURRENT / FILE_END through.
    EXPECT_EQ(static_cast<uint32_t>(QUIL_WHENCE_BEGIN), 0u);
    EXPECT_EQ(static_cast<uint32_t>(QUIL_WHENCE_CURRENT), 1u);
    EXPECT_EQ(static_cast<uint32_t>(QUIL_WHENCE_END), 2u);
    // namingMode 2 of the volume parameters is free naming.
    EXPECT_EQ(static_cast<_QUIL_NAMING_MODE>(2u), QUIL_NAMING_FREE);
}

} // namespace
