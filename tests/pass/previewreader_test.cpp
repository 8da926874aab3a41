#include "previewreader.h"

#include <chrono>

#include <gtest/gtest.h>

#include "testfiles.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::writeFile;

// The image as the pass makes it: the target through what the pass wrote,
// the source after it, the target beyond the source where the pass wrote
// there; changed where the pass wrote back a byte other than the source's;
// and a word where a file can't be read.
TEST(PreviewReader, ReadsTheImageAsThePassMakesIt)
{
    testing::TempFolder folder;
    const std::string source = folder.path("source.rom");
    const std::string target = folder.path("target.bin");
    writeFile(source, {1, 2, 3, 4, 5, 6, 7, 8});
    // Position 1 changed by another program, 2 and 3 written back.
    writeFile(target, {7, 9, 3, 4, 5, 6, 7, 8, 9, 10, 11});

    PreviewReader::Request request;
    request.sourcePath = source;
    request.first = Position(1);
    request.count = 12;
    PreviewReader::View view = PreviewReader::read(request);
    EXPECT_EQ(view.problem, "");
    EXPECT_EQ(view.bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}));
    EXPECT_EQ(view.length, 8);

    ImageView image;
    image.sourcePath = source;
    image.targetPath = target;
    image.writtenThrough = Position(3);
    image.writtenBack.add(Position(2), Position(3));
    request = PreviewReader::requestFor(image, Position(1), 12);
    view = PreviewReader::read(request);
    EXPECT_EQ(view.bytes, (Bytes{7, 9, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}));
    EXPECT_EQ(view.changed, (std::vector<bool>{false, true, false, false, false, false, false, false, false, false,
                                               false, false}));
    request.writtenThrough = Position(10);
    request.first = Position(7);
    request.count = 5;
    view = PreviewReader::read(request);
    EXPECT_EQ(view.bytes, (Bytes{7, 8, 9, 10, 0}));
    EXPECT_EQ(view.length, 10);

    request.sourcePath = folder.path("missing.rom");
    view = PreviewReader::read(request);
    EXPECT_NE(view.problem.find("missing.rom"), std::string::npos) << view.problem;

    // On its own thread: only the newest request is read, and taken once.
    PreviewReader reader([] {});
    request.sourcePath = source;
    request.serial = 7;
    reader.request(request);
    ASSERT_TRUE(reader.waitReady(std::chrono::seconds(10)));
    const auto taken = reader.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->serial, 7U);
    EXPECT_EQ(taken->bytes, (Bytes{7, 8, 9, 10, 0}));
    EXPECT_FALSE(reader.take());
}

} // namespace
} // namespace dotmatrix
