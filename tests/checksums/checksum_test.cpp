#include "checksum.h"

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace dotmatrix {
namespace {

using Bytes = std::vector<std::uint8_t>;

ChecksumReader readerOf(const Bytes& image)
{
    return [&image](std::int64_t offset, std::span<std::uint8_t> into) {
        std::memcpy(into.data(), image.data() + offset, into.size());
        return true;
    };
}

Bytes randomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (std::uint8_t& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

TEST(Checksums, GiveThePublishedCheckValues)
{
    const std::string check = "123456789";
    ChecksumState state;
    state.add(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()));
    const std::pair<ChecksumKind, std::uint32_t> published[] = {
        {ChecksumKind::Crc16CcittFalse, 0x29B1}, {ChecksumKind::Crc16Xmodem, 0x31C3},
        {ChecksumKind::Crc16Arc, 0xBB3D},        {ChecksumKind::Crc16Modbus, 0x4B37},
        {ChecksumKind::Crc32, 0xCBF43926},       {ChecksumKind::Crc32c, 0xE3069283},
        {ChecksumKind::Sum16, 0x01DD},           {ChecksumKind::NegatedSum16, 0xFE23},
        {ChecksumKind::InvertedSum32, 0xFFFFFE22},
    };
    for (const auto& [kind, value] : published)
        EXPECT_EQ(state.value(kind), value) << checksumName(kind);
}

TEST(Checksums, EachFormIsFoundWhereAnImageCarriesItAndNoneInRandomImages)
{
    struct Form {
        ChecksumKind kind;
        bool bigEndian;
        std::size_t padding;
        std::uint8_t fill;
    };
    const Form forms[] = {
        {ChecksumKind::Crc32, false, 0, 0},           {ChecksumKind::Crc32, true, 300, 0xFF},
        {ChecksumKind::Crc32c, false, 70000, 0x00},   {ChecksumKind::Sum32, true, 0, 0},
        {ChecksumKind::NegatedSum32, false, 16, 0xFF}, {ChecksumKind::InvertedSum32, false, 0, 0},
        {ChecksumKind::Crc16CcittFalse, true, 0, 0},  {ChecksumKind::Crc16Xmodem, false, 5, 0x00},
        {ChecksumKind::Crc16Arc, false, 0, 0},        {ChecksumKind::Crc16Modbus, true, 1, 0xFF},
        {ChecksumKind::Sum16, false, 0, 0},           {ChecksumKind::NegatedSum16, true, 0, 0},
        {ChecksumKind::InvertedSum16, false, 2000, 0xFF},
    };
    std::uint32_t seed = 1;
    for (const Form& form : forms) {
        SCOPED_TRACE(checksumName(form.kind) + (form.bigEndian ? " BE" : " LE") + " padding "
                     + std::to_string(form.padding));
        Bytes image = randomBytes(5000 + seed * 77, seed);
        ++seed;
        const auto dataEnd = static_cast<std::int64_t>(image.size());
        ChecksumState state;
        state.add(image);
        const bool wide = form.kind == ChecksumKind::Crc32 || form.kind == ChecksumKind::Crc32c
                          || form.kind == ChecksumKind::Sum32 || form.kind == ChecksumKind::NegatedSum32
                          || form.kind == ChecksumKind::InvertedSum32;
        const Checksum wanted{form.kind, form.bigEndian, dataEnd, dataEnd + 1, wide ? 4 : 2};
        const Bytes field = checksumBytes(wanted, state.value(form.kind));
        image.insert(image.end(), field.begin(), field.end());
        image.insert(image.end(), form.padding, form.fill);
        const auto found = findChecksum(static_cast<std::int64_t>(image.size()), readerOf(image));
        ASSERT_TRUE(found);
        EXPECT_EQ(found->kind, form.kind);
        if (field.front() != field.back()) {  // a field of two like bytes reads the same either way
            EXPECT_EQ(found->bigEndian, form.bigEndian);
        }
        EXPECT_EQ(found->dataEnd, dataEnd);
        EXPECT_EQ(found->field, dataEnd + 1);
        const auto check = checkChecksum(*found, readerOf(image));
        ASSERT_TRUE(check);
        EXPECT_TRUE(check->matches());
        image[100] ^= 0x10;  // one dot
        EXPECT_FALSE(checkChecksum(*found, readerOf(image))->matches());
    }

    // An option ROM: the bytes sum to zero, the last byte making it so.
    Bytes rom = randomBytes(8192, 99);
    rom[0] = 0x55;
    rom[1] = 0xAA;
    rom[2] = 16;  // its length in 512-byte blocks
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < rom.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + rom[i]);
    rom.back() = static_cast<std::uint8_t>(0x100 - sum);
    const auto zeroSum = findChecksum(static_cast<std::int64_t>(rom.size()), readerOf(rom));
    ASSERT_TRUE(zeroSum);
    EXPECT_EQ(zeroSum->kind, ChecksumKind::ZeroSum8);
    EXPECT_EQ(describeChecksum(*zeroSum), "The source's bytes 1 to 8192 sum to zero modulo 256, as option and BIOS ROMs do");
    EXPECT_TRUE(zeroSum->confirmed());
    rom[10] ^= 1;
    const auto check = checkChecksum(*zeroSum, readerOf(rom));
    EXPECT_EQ(check->held, rom.back());
    EXPECT_EQ((check->wanted + sum + (rom[10] & 1 ? 1 : -1)) & 0xFF, 0U);

    // Random images of several sizes carry nothing, padded or not; nor does padding alone.
    for (const std::size_t size : {300U, 4096U, 65536U, 1000003U}) {
        for (std::uint32_t image = 0; image < 4; ++image) {
            Bytes bytes = randomBytes(size, 1000 + image);
            if (image % 2 == 1)
                bytes.insert(bytes.end(), 512, image == 1 ? 0xFF : 0x00);
            const auto found = findChecksum(static_cast<std::int64_t>(bytes.size()), readerOf(bytes));
            EXPECT_FALSE(found) << size << " " << image << ": " << describeChecksum(*found);
        }
    }
    const Bytes blank(65536, 0xFF);
    EXPECT_FALSE(findChecksum(65536, readerOf(blank)));
    EXPECT_EQ(describeChecksum({ChecksumKind::Crc32, true, 262140, 262141, 4}),
              "The source ends with a CRC-32 (big-endian) of its bytes 1 to 262140 at 262141 to 262144");
}

// Every kind in both byte orders, with and without padding of either fill,
// placed where the image's maker put it: never in the padding behind it.
TEST(Checksums, TheFieldFoundIsTheOneWrittenAlsoBeforePadding)
{
    const ChecksumKind kinds[] = {
        ChecksumKind::Crc32,        ChecksumKind::Crc32c,          ChecksumKind::Sum32,       ChecksumKind::NegatedSum32,
        ChecksumKind::InvertedSum32, ChecksumKind::Crc16CcittFalse, ChecksumKind::Crc16Xmodem, ChecksumKind::Crc16Arc,
        ChecksumKind::Crc16Modbus,  ChecksumKind::Sum16,           ChecksumKind::NegatedSum16, ChecksumKind::InvertedSum16,
    };
    std::uint32_t seed = 500;
    int placed = 0;
    int tried = 0;
    for (const ChecksumKind kind : kinds) {
        for (const bool bigEndian : {false, true}) {
            for (const std::size_t padding : {std::size_t{0}, std::size_t{1}, std::size_t{1094}}) {
                for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
                    for (int image = 0; image < 4; ++image) {
                        Bytes bytes = randomBytes(4000, ++seed);
                        ChecksumState state;
                        state.add(bytes);
                        const int size = state.value(kind) > 0xFFFF || kind == ChecksumKind::Crc32
                                                 || kind == ChecksumKind::Crc32c || kind == ChecksumKind::Sum32
                                                 || kind == ChecksumKind::NegatedSum32
                                                 || kind == ChecksumKind::InvertedSum32
                                             ? 4
                                             : 2;
                        const Checksum wanted{kind, bigEndian, 4000, 4001, size};
                        const Bytes field = checksumBytes(wanted, state.value(kind));
                        bytes.insert(bytes.end(), field.begin(), field.end());
                        bytes.insert(bytes.end(), padding, fill);
                        const auto found = findChecksum(static_cast<std::int64_t>(bytes.size()), readerOf(bytes));
                        ++tried;
                        if (found && found->field == 4001 && found->dataEnd == 4000
                            && checkChecksum(*found, readerOf(bytes))->matches())
                            ++placed;
                        else
                            ADD_FAILURE() << checksumName(kind) << (bigEndian ? " BE" : " LE") << " padding "
                                          << padding << " of " << int(fill) << ": "
                                          << (found ? describeChecksum(*found) : "nothing");
                    }
                }
            }
        }
    }
    EXPECT_EQ(placed, tried);
}

// Random and mostly-zero images that happen to match a form are named with
// their odds; only structure or odds below one in a million confirm one.
TEST(Checksums, ChanceMatchesAreNamedWithTheirOdds)
{
    // A 32-bit sum of a mostly-zero image is a small number: one that ends
    // in it, D7 00 00 00, is no sure sign of a checksum.
    Bytes sparse(102348, 0);
    sparse[5000] = 0x50;
    sparse[70000] = 0x87;
    sparse[102344] = 0xD7;
    const auto weak = findChecksum(static_cast<std::int64_t>(sparse.size()), readerOf(sparse));
    ASSERT_TRUE(weak);
    EXPECT_FALSE(weak->confirmed()) << weak->odds;
    EXPECT_EQ(weak->kind, ChecksumKind::Sum32);
    EXPECT_NE(describeChecksum(*weak).find("match by chance"), std::string::npos) << describeChecksum(*weak);

    // A 16-bit form is never sure on its own; a CRC-32 of random bytes is.
    Bytes image = randomBytes(9000, 3);
    ChecksumState crcs;
    crcs.add(image);
    const Bytes crc16 = checksumBytes({ChecksumKind::Crc16Arc, false, 9000, 9001, 2}, crcs.value(ChecksumKind::Crc16Arc));
    Bytes short16 = image;
    short16.insert(short16.end(), crc16.begin(), crc16.end());
    EXPECT_FALSE(findChecksum(9002, readerOf(short16))->confirmed());
    const Bytes crc32 = checksumBytes({ChecksumKind::Crc32, false, 9000, 9001, 4}, crcs.value(ChecksumKind::Crc32));
    image.insert(image.end(), crc32.begin(), crc32.end());
    EXPECT_TRUE(findChecksum(9004, readerOf(image))->confirmed());

    // A zero sum without an option ROM's header is a 1 in 256 chance.
    Bytes blocks = randomBytes(65536, 11);
    std::uint8_t total = 0;
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
        total = static_cast<std::uint8_t>(total + blocks[i]);
    blocks.back() = static_cast<std::uint8_t>(0x100 - total);
    const auto zeroSum = findChecksum(65536, readerOf(blocks));
    ASSERT_TRUE(zeroSum);
    EXPECT_FALSE(zeroSum->confirmed());
    EXPECT_EQ(describeChecksum(*zeroSum),
              "The source's bytes 1 to 65536 sum to zero modulo 256, which one image in 256 would match by chance");
}

} // namespace
} // namespace dotmatrix
