#include "madeimage.h"

#include <gtest/gtest.h>

#include "testfiles.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::writeFile;

Bytes readAll(MadeImage& image, std::int64_t offset, std::size_t count)
{
    Bytes bytes(count, 0xEE);
    std::string problem;
    image.readAll(offset, bytes, problem);
    EXPECT_EQ(problem, "");
    return bytes;
}

// The target up to where the pass has written, the source after it: a read
// stops where the files change hands, and zeros stand behind both ends.
TEST(MadeImage, ReadsTheTargetWhereThePassWroteAndTheSourceAfter)
{
    testing::TempFolder folder;
    const std::string source = folder.path("source.rom");
    const std::string target = folder.path("target.bin");
    writeFile(source, {1, 2, 3, 4, 5, 6});
    writeFile(target, {9, 9, 9, 9, 9, 9, 9, 9});

    std::string problem;
    std::optional<MadeImage> image = MadeImage::open({source, target, Position(3)}, problem);
    ASSERT_TRUE(image) << problem;
    Bytes some(6);
    std::error_code error;
    EXPECT_EQ(image->readAt(1, some, error), 2U);  // the target's stretch ends at position 3
    EXPECT_EQ(readAll(*image, 0, 8), (Bytes{9, 9, 9, 4, 5, 6, 0, 0}));
    EXPECT_EQ(image->length(error), 6);

    // Written beyond the source's end: the target's bytes, and its length.
    image = MadeImage::open({source, target, Position(7)}, problem);
    ASSERT_TRUE(image) << problem;
    EXPECT_EQ(readAll(*image, 4, 5), (Bytes{9, 9, 9, 0, 0}));
    EXPECT_EQ(image->length(error), 7);
    EXPECT_EQ(bytesFromTarget(5, 10, Position(7)), 2);
    EXPECT_EQ(bytesFromTarget(7, 10, Position(7)), 0);

    // Outside a pass the target is not opened; in one, a missing one is said.
    EXPECT_TRUE(MadeImage::open({source, folder.path("none.bin"), Position(0)}, problem));
    EXPECT_FALSE(MadeImage::open({source, folder.path("none.bin"), Position(1)}, problem));
    EXPECT_NE(problem.find("Cannot read the target file"), std::string::npos) << problem;
}

} // namespace
} // namespace dotmatrix
