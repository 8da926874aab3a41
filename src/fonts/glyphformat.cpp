#include "glyphformat.h"

#include <cctype>
#include <vector>

namespace dotmatrix {

namespace {

constexpr int kBits = 8;

int linesOf(int dots)
{
    return (dots + kBits - 1) / kBits;
}

std::string lowerTrimmed(const std::string& text)
{
    std::size_t from = 0;
    std::size_t to = text.size();
    while (from < to && std::isspace(static_cast<unsigned char>(text[from])) != 0)
        ++from;
    while (to > from && std::isspace(static_cast<unsigned char>(text[to - 1])) != 0)
        --to;
    std::string part = text.substr(from, to - from);
    for (char& c : part)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return part;
}

// A whole number of 1 to 3 digits, or nothing.
std::optional<int> smallNumber(const std::string& text)
{
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

GlyphFormat GlyphFormat::original(int width, DotOrder order)
{
    GlyphFormat format;
    format.width = width;
    format.order = order;
    return format;
}

bool GlyphFormat::valid() const
{
    return width >= 1 && width <= kLargest && height >= 1 && height <= kLargest && pitch >= 0;
}

bool GlyphFormat::isOriginal() const
{
    return lines == Lines::Columns && width >= 4 && width <= 7 && height == kBits && step() == width;
}

int GlyphFormat::bytesPerLine() const
{
    return linesOf(lines == Lines::Columns ? height : width);
}

int GlyphFormat::glyphBytes() const
{
    return bytesPerLine() * (lines == Lines::Columns ? width : height);
}

GlyphFormat::Bit GlyphFormat::bitAt(int x, int y) const
{
    if (lines == Lines::Rows) {
        const int row = order.firstByteLeft ? height - 1 - y : y;
        const int inRow = x % kBits;
        return {row * bytesPerLine() + x / kBits, order.bit0OnTop ? inRow : kBits - 1 - inRow};
    }
    const int column = order.firstByteLeft ? x : width - 1 - x;
    const int page = y / kBits;
    const int inPage = y % kBits;
    const int byte = pages == Pages::PageByPage ? page * width + column : column * bytesPerLine() + page;
    return {byte, order.bit0OnTop ? inPage : kBits - 1 - inPage};
}

std::optional<GlyphFormat::Dot> GlyphFormat::dotOf(int byte, int bit) const
{
    if (byte < 0 || byte >= glyphBytes() || bit < 0 || bit >= kBits)
        return std::nullopt;
    const int perLine = bytesPerLine();
    if (lines == Lines::Rows) {
        const int row = byte / perLine;
        const int x = (byte % perLine) * kBits + (order.bit0OnTop ? bit : kBits - 1 - bit);
        if (x >= width)
            return std::nullopt;
        return Dot{x, order.firstByteLeft ? height - 1 - row : row};
    }
    const int column = pages == Pages::PageByPage ? byte % width : byte / perLine;
    const int page = pages == Pages::PageByPage ? byte / width : byte % perLine;
    const int y = page * kBits + (order.bit0OnTop ? bit : kBits - 1 - bit);
    if (y >= height)
        return std::nullopt;
    return Dot{order.firstByteLeft ? column : width - 1 - column, y};
}

std::string GlyphFormat::words() const
{
    std::string text;
    if (lines == Lines::Rows) {
        text = std::to_string(width) + "x" + std::to_string(height) + ", bytes as rows, "
               + (order.bit0OnTop ? "bit 0 on the left" : "bit 7 on the left");
        if (order.firstByteLeft)
            text += ", first row at the bottom";
    } else {
        text = "width " + std::to_string(width);
        if (height != kBits)
            text += ", " + std::to_string(height) + " tall";
        if (height > kBits)
            text += pages == Pages::PageByPage ? ", page by page" : ", column by column";
        text += ", " + dotOrderText(order);
    }
    if (pitch > glyphBytes())
        text += ", " + std::to_string(pitch) + " bytes apart";
    return text;
}

bool litAt(std::span<const std::uint8_t> glyph, const GlyphFormat& format, int x, int y)
{
    const GlyphFormat::Bit at = format.bitAt(x, y);
    return ((glyph[static_cast<std::size_t>(at.byte)] >> at.bit) & 1) != 0;
}

void setLitAt(std::span<std::uint8_t> glyph, const GlyphFormat& format, int x, int y, bool lit)
{
    const GlyphFormat::Bit at = format.bitAt(x, y);
    std::uint8_t& byte = glyph[static_cast<std::size_t>(at.byte)];
    byte = static_cast<std::uint8_t>(lit ? byte | (1 << at.bit) : byte & ~(1 << at.bit));
}

void applyGlyphTool(GlyphTool tool, std::span<std::uint8_t> glyph, const GlyphFormat& format)
{
    const int width = format.width;
    const int height = format.height;
    std::vector<std::uint8_t> dots(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            dots[static_cast<std::size_t>(y * width + x)] = litAt(glyph, format, x, y) ? 1 : 0;
    }
    // The dot that lands at (x, y), read from where it stood; off the glyph, clear.
    const auto from = [&](int x, int y) -> std::uint8_t {
        switch (tool) {
        case GlyphTool::Clear:
            return 0;
        case GlyphTool::Invert:
            return dots[static_cast<std::size_t>(y * width + x)] ^ 1;
        case GlyphTool::MirrorLeftRight:
            x = width - 1 - x;
            break;
        case GlyphTool::FlipTopBottom:
            y = height - 1 - y;
            break;
        case GlyphTool::ShiftUp:
            ++y;
            break;
        case GlyphTool::ShiftDown:
            --y;
            break;
        case GlyphTool::ShiftLeft:
            ++x;
            break;
        case GlyphTool::ShiftRight:
            --x;
            break;
        }
        if (x < 0 || x >= width || y < 0 || y >= height)
            return 0;
        return dots[static_cast<std::size_t>(y * width + x)];
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            setLitAt(glyph, format, x, y, from(x, y) != 0);
    }
}

GlyphFormatReading readGlyphFormat(const std::string& words)
{
    GlyphFormatReading reading;
    GlyphFormat format;
    bool any = false;
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= words.size();) {
        const std::size_t comma = words.find(',', start);
        parts.push_back(lowerTrimmed(words.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        start = comma == std::string::npos ? words.size() + 1 : comma + 1;
    }
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        any = true;
        const std::size_t cross = part.find('x');
        const std::string head = part.rfind("width ", 0) == 0 ? part.substr(6) : part;
        if (const auto width = smallNumber(head)) {
            format.width = *width;
        } else if (cross != std::string::npos && smallNumber(part.substr(0, cross))
                   && smallNumber(part.substr(cross + 1))) {
            format.width = *smallNumber(part.substr(0, cross));
            format.height = *smallNumber(part.substr(cross + 1));
            // "5x7" is how the original sizes are named: eight dots tall all the same.
            if (format.height == 7 && format.width >= 4 && format.width <= 7)
                format.height = kBits;
        } else if (part.size() > 5 && part.substr(part.size() - 5) == " tall" && smallNumber(part.substr(0, part.size() - 5))) {
            format.height = *smallNumber(part.substr(0, part.size() - 5));
        } else if (part.size() > 12 && part.substr(part.size() - 12) == " bytes apart"
                   && smallNumber(part.substr(0, part.size() - 12))) {
            format.pitch = *smallNumber(part.substr(0, part.size() - 12));
        } else if (part == "bytes as rows") {
            format.lines = GlyphFormat::Lines::Rows;
        } else if (part == "bytes as columns") {
            format.lines = GlyphFormat::Lines::Columns;
        } else if (part == "page by page") {
            format.pages = GlyphFormat::Pages::PageByPage;
        } else if (part == "column by column") {
            format.pages = GlyphFormat::Pages::ColumnByColumn;
        } else if (part == "bit 0 on top" || part == "bit 0 on the left") {
            format.order.bit0OnTop = true;
        } else if (part == "bit 7 on top" || part == "bit 7 on the left") {
            format.order.bit0OnTop = false;
        } else if (part == "first byte on the left" || part == "first row at the bottom") {
            format.order.firstByteLeft = true;
        } else if (part == "first byte on the right" || part == "first row at the top") {
            format.order.firstByteLeft = false;
        } else {
            reading.problem = "\"" + part + "\" in the format \"" + words + "\" names no part of a format";
            return reading;
        }
    }
    if (!any) {
        reading.problem = "the format is empty";
        return reading;
    }
    if (!format.valid()) {
        reading.problem = "the format \"" + words + "\" has glyphs of " + std::to_string(format.width) + " x "
                          + std::to_string(format.height) + " dots: each side is 1 to 32";
        return reading;
    }
    if (format.pitch != 0 && format.pitch < format.glyphBytes()) {
        reading.problem = "the format \"" + words + "\" puts glyphs of " + std::to_string(format.glyphBytes())
                          + " bytes " + std::to_string(format.pitch) + " bytes apart: they would overlap";
        return reading;
    }
    reading.format = format;
    return reading;
}

} // namespace dotmatrix
