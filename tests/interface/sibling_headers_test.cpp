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


// The interfaces must compile as the core includes them; what follows checks
// behaviour that the types alone do not show.

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
