#include "testfiles.h"

#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace dotmatrix::testing {

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "dotmatrix-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TempFolder::path(const std::string& name) const
{
    return (root_ / name).string();
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

Bytes countingBytes(std::size_t count, std::uint8_t first)
{
    Bytes bytes(count);
    std::uint8_t value = first;
    for (auto& byte : bytes)
        byte = value++;
    return bytes;
}

Bytes gridBytes(const CharacterGrid& grid)
{
    Bytes bytes;
    for (int column = 0; column < grid.columns(); ++column) {
        int value = 0;
        for (int bit = 0; bit < CharacterGrid::kBits; ++bit)
            value |= grid.dot(column, bit) << bit;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

} // namespace dotmatrix::testing
