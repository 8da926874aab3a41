#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "charactergrid.h"
#include "windowport.h"

namespace dotmatrix::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    [[nodiscard]] std::string path(const std::string& name) const;

private:
    std::filesystem::path root_;
};

void writeFile(const std::string& path, const Bytes& bytes);
[[nodiscard]] Bytes readFile(const std::string& path);
// `count` bytes 1, 2, 3, ... wrapping after 255: every position tells its own byte.
[[nodiscard]] Bytes countingBytes(std::size_t count, std::uint8_t first = 1);

// The grid as the bytes its columns encode.
[[nodiscard]] Bytes gridBytes(const CharacterGrid& grid);

// Stands in for the window: inputs set by the test, outputs recorded.
class RecordingWindow : public WindowPort {
public:
    std::string offset = "0000";
    int symtype = 1;
    std::vector<std::string> curoffTexts;
    bool startEnabled = true;
    int displays = 0;
    int completed = 0;
    std::vector<std::string> problems;

    [[nodiscard]] std::string offsetText() const override { return offset; }
    [[nodiscard]] int selectedSymtype() const override { return symtype; }
    void setCuroffText(const std::string& text) override { curoffTexts.push_back(text); }
    void setStartButtEnabled(bool enabled) override { startEnabled = enabled; }
    void veskdisplay() override { ++displays; }
    void showCompleted() override { ++completed; }
    void showProblem(const std::string& message) override { problems.push_back(message); }

    [[nodiscard]] std::string curoff() const { return curoffTexts.empty() ? "0000" : curoffTexts.back(); }
};

} // namespace dotmatrix::testing
