#pragma once

#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "conversionpass.h"
#include "testfiles.h"

namespace dotmatrix::testing {

// A pass over a source and a target in a fresh folder, driven by a
// recording window.
class PassTest : public ::testing::Test {
protected:
    PassTest() : source(folder.path("font.rom")), target(folder.path("out.bin"))
    {
        pass.setSourcePath(source);
        pass.setTargetPath(target);
    }

    // Starts a pass over `bytes` at `offset` with the option "4x7" + symtype.
    void start(const Bytes& bytes, const std::string& offset, int symtype)
    {
        writeFile(source, bytes);
        window.offset = offset;
        window.symtype = symtype;
        pass.start();
        ASSERT_TRUE(pass.isOpen()) << (window.problems.empty() ? "" : window.problems.back());
    }

    [[nodiscard]] Bytes grid() const { return gridBytes(pass.state().DotGrid); }

#ifndef _WIN32
    // Puts the source, holding `bytes`, and the target into a mounted folder.
    void passIn(const MountedFolder& mounted, const Bytes& bytes)
    {
        writeFile(mounted.path("font.rom"), bytes);
        pass.setSourcePath(mounted.path("font.rom"));
        pass.setTargetPath(mounted.path("out.bin"));
    }
#endif

    // Toggles dots until column `column` holds `value`.
    void edit(int column, std::uint8_t value)
    {
        const std::uint8_t now = grid().at(static_cast<std::size_t>(column));
        for (int bit = 0; bit < CharacterGrid::kBits; ++bit) {
            if (((now ^ value) >> bit) & 1) {
                ASSERT_TRUE(pass.toggleDot(column, bit));
            }
        }
    }

    TempFolder folder;
    std::string source;
    std::string target;
    RecordingWindow window;
    ConversionPass pass{window};
};

inline Bytes slice(const Bytes& bytes, std::size_t firstPosition, std::size_t lastPosition)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(firstPosition - 1),
                 bytes.begin() + static_cast<std::ptrdiff_t>(lastPosition));
}

} // namespace dotmatrix::testing
