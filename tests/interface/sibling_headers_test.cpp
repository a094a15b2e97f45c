// The interfaces of the reader and writer libraries as the core sees them,
// beyond the record layouts the headers check themselves when compiled: the
// move methods and naming mode the core hands through unchanged, and the
// header-only writer exception. Nothing here calls into either library.
#include <quil/sibling/quilreader.h>
#include <quil/sibling/quilwriter.h>

#include <gtest/gtest.h>

#include <exception>
#include <type_traits>

namespace {

using namespace QUILWriter;

// A caller's FILE_BEGIN / FILE_CURRENT / FILE_END, and namingMode 2 of the
// volume parameters, reach the writer as they are.
static_assert(QUIL_WHENCE_BEGIN == 0 && QUIL_WHENCE_CURRENT == 1 && QUIL_WHENCE_END == 2);
static_assert(static_cast<_QUIL_NAMING_MODE>(2u) == QUIL_NAMING_FREE);
// The core's handlers for standard exceptions see a writer exception too.
static_assert(std::is_base_of_v<std::exception, QUILWriterException>);
static_assert(std::is_copy_constructible_v<QUILWriterException>);

// The core's information line is built from every field of a caught exception.
TEST(QUILWriterExceptionTest, CarriesCodeRepairStatusAndThrowSiteThroughACopy) {
  try {
    throw QUILWriterException(0x82000002u, 1, "ClipWriterImpl.cpp", "ClipWriterImpl::Write", 417, "disc full");
  } catch (const std::exception& caught) {
    const auto* writer = dynamic_cast<const QUILWriterException*>(&caught);
    ASSERT_NE(writer, nullptr);
    const QUILWriterException e = *writer;  // the catching frame may keep a copy
    EXPECT_EQ(e.errorCode(), 0x82000002u);
    EXPECT_EQ(e.repairStatus(), 1);
    EXPECT_EQ(e.file(), "ClipWriterImpl.cpp");
    EXPECT_EQ(e.function(), "ClipWriterImpl::Write");
    EXPECT_EQ(e.line(), 417);
    EXPECT_STREQ(e.what(), "disc full");
    EXPECT_STREQ(caught.what(), "disc full");
  }
}

}  // namespace
