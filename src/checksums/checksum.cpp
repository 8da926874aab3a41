#include "checksum.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>

namespace dotmatrix {

namespace {

// Small enough that a look asked to stop hears it within a millisecond.
constexpr std::size_t kReadBlock = 1 << 18;

// Slicing by eight: entry [k][b] is the register after byte b and k zero
// bytes, so that eight bytes take eight independent lookups.
template <typename Word>
using Tables = std::array<std::array<Word, 256>, 8>;

// Reflected CRCs shift right.
template <typename Word>
constexpr Tables<Word> reflectedTables(Word polynomial)
{
    Tables<Word> tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        Word crc = static_cast<Word>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<Word>((crc & 1) != 0 ? (crc >> 1) ^ polynomial : crc >> 1);
        tables[0][byte] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const Word before = tables[k - 1][byte];
            tables[k][byte] = static_cast<Word>((before >> 8) ^ tables[0][before & 0xFF]);
        }
    }
    return tables;
}

// The 16-bit CRCs of CCITT shift left.
constexpr Tables<std::uint16_t> forwardTables16(std::uint16_t polynomial)
{
    Tables<std::uint16_t> tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        auto crc = static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ polynomial : crc << 1);
        tables[0][byte] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const std::uint16_t before = tables[k - 1][byte];
            tables[k][byte] = static_cast<std::uint16_t>((before << 8) ^ tables[0][before >> 8]);
        }
    }
    return tables;
}

constexpr auto kCcitt = forwardTables16(0x1021);
constexpr auto kArc = reflectedTables<std::uint16_t>(0xA001);
constexpr auto kCrc32 = reflectedTables<std::uint32_t>(0xEDB88320);
constexpr auto kCrc32c = reflectedTables<std::uint32_t>(0x82F63B78);

// Eight bytes `b` through a reflected CRC of 16 or 32 bits.
template <typename Word>
Word reflectedEight(Word crc, const std::uint8_t* b, const Tables<Word>& t)
{
    std::uint32_t low = crc;
    const std::uint32_t first = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8)
                                | (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    low ^= first;
    return static_cast<Word>(t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF]
                             ^ t[4][low >> 24] ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
}

std::uint16_t forwardEight(std::uint16_t crc, const std::uint8_t* b, const Tables<std::uint16_t>& t)
{
    return static_cast<std::uint16_t>(t[7][b[0] ^ (crc >> 8)] ^ t[6][b[1] ^ (crc & 0xFF)] ^ t[5][b[2]] ^ t[4][b[3]]
                                      ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
}

int fieldSize(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::ZeroSum8:
        return 1;
    case ChecksumKind::Sum32:
    case ChecksumKind::NegatedSum32:
    case ChecksumKind::InvertedSum32:
    case ChecksumKind::Crc32:
    case ChecksumKind::Crc32c:
        return 4;
    default:
        return 2;
    }
}

// The tail forms, in the order they are tried: the strongest first.
constexpr ChecksumKind kTailForms[] = {
    ChecksumKind::Crc32,           ChecksumKind::Crc32c,       ChecksumKind::Sum32,
    ChecksumKind::NegatedSum32,    ChecksumKind::InvertedSum32, ChecksumKind::Crc16CcittFalse,
    ChecksumKind::Crc16Xmodem,     ChecksumKind::Crc16Arc,     ChecksumKind::Crc16Modbus,
    ChecksumKind::Sum16,           ChecksumKind::NegatedSum16, ChecksumKind::InvertedSum16,
};

// Of two matches, the one the image's maker more likely wrote. A CRC
// without a final XOR over data, CRC and a zero byte is zero again, and a
// complemented sum over data and sum is too: such a field, shifted one byte
// into the padding, matches as well. Of like matches the earlier is real.
bool moreLikelyMade(const Checksum& a, const Checksum& b)
{
    constexpr double kLike = 256;
    if (a.size == b.size && a.odds <= b.odds * kLike && b.odds <= a.odds * kLike)
        return a.field < b.field;
    return a.odds < b.odds;
}

bool isCrc(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::Crc16CcittFalse:
    case ChecksumKind::Crc16Xmodem:
    case ChecksumKind::Crc16Arc:
    case ChecksumKind::Crc16Modbus:
    case ChecksumKind::Crc32:
    case ChecksumKind::Crc32c:
        return true;
    default:
        return false;
    }
}

std::uint32_t fieldValue(std::span<const std::uint8_t> bytes, bool bigEndian)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t byte = bigEndian ? bytes[i] : bytes[bytes.size() - 1 - i];
        value = (value << 8) | byte;
    }
    return value;
}

using ByteCounts = std::array<std::int64_t, 256>;

// Feeds `state` the bytes from `from` to `to` (zero-based, `to` excluded),
// counting each value into `counts` where given; false where the reader stopped.
bool feed(ChecksumState& state, std::int64_t from, std::int64_t to, const ChecksumReader& read,
          std::vector<std::uint8_t>& buffer, ByteCounts* counts = nullptr)
{
    while (from < to) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(to - from, kReadBlock));
        buffer.resize(count);
        if (!read(from, buffer))
            return false;
        state.add(buffer);
        if (counts != nullptr) {
            for (const std::uint8_t byte : buffer)
                ++(*counts)[byte];
        }
        from += static_cast<std::int64_t>(count);
    }
    return true;
}

// Where the image's trailing run of `fill` bytes begins: its length where it has none.
std::optional<std::int64_t> paddingStart(std::int64_t length, std::uint8_t fill, const ChecksumReader& read)
{
    std::vector<std::uint8_t> block;
    std::int64_t end = length;
    while (end > 0) {
        const std::int64_t from = std::max<std::int64_t>(0, end - static_cast<std::int64_t>(kReadBlock / 16));
        block.resize(static_cast<std::size_t>(end - from));
        if (!read(from, block))
            return std::nullopt;
        const auto other = std::find_if(block.rbegin(), block.rend(), [fill](std::uint8_t byte) { return byte != fill; });
        if (other != block.rend())
            return from + static_cast<std::int64_t>(block.rend() - other);
        end = from;
    }
    return 0;
}

} // namespace

std::string checksumName(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::ZeroSum8:
        return "8-bit sum of zero";
    case ChecksumKind::Sum16:
        return "16-bit sum";
    case ChecksumKind::Sum32:
        return "32-bit sum";
    case ChecksumKind::NegatedSum16:
        return "two's complement of the 16-bit sum";
    case ChecksumKind::NegatedSum32:
        return "two's complement of the 32-bit sum";
    case ChecksumKind::InvertedSum16:
        return "one's complement of the 16-bit sum";
    case ChecksumKind::InvertedSum32:
        return "one's complement of the 32-bit sum";
    case ChecksumKind::Crc16CcittFalse:
        return "CRC-16/CCITT-FALSE";
    case ChecksumKind::Crc16Xmodem:
        return "CRC-16/XMODEM";
    case ChecksumKind::Crc16Arc:
        return "CRC-16/ARC";
    case ChecksumKind::Crc16Modbus:
        return "CRC-16/MODBUS";
    case ChecksumKind::Crc32:
        return "CRC-32";
    case ChecksumKind::Crc32c:
        return "CRC-32C";
    }
    return {};
}

std::string describeChecksum(const Checksum& checksum)
{
    std::string text;
    if (checksum.kind == ChecksumKind::ZeroSum8) {
        text = "The source's bytes 1 to " + std::to_string(checksum.dataEnd) + " sum to zero modulo 256";
        if (checksum.confirmed())
            return text + ", as option and BIOS ROMs do";
    } else {
        text = "The source ends with a " + checksumName(checksum.kind);
        if (checksum.size > 1)
            text += checksum.bigEndian ? " (big-endian)" : " (little-endian)";
        text += " of its bytes 1 to " + std::to_string(checksum.dataEnd) + " at " + std::to_string(checksum.field)
                + " to " + std::to_string(checksum.field + checksum.size - 1);
        if (checksum.confirmed())
            return text;
    }
    return text + ", which " + chanceText(checksum.odds) + " match by chance";
}

std::string chanceText(double odds)
{
    if (odds >= 0.5)
        return "most images";
    const double images = std::round(1.0 / odds);
    char number[32];
    std::snprintf(number, sizeof number, "%.0f", images);
    return std::string("one image in ") + number + " would";
}

void ChecksumState::add(std::span<const std::uint8_t> bytes)
{
    // All at once, eight bytes a step: the chains are independent, so the
    // processor overlaps them.
    std::uint32_t sum = sum_;
    std::uint16_t ccittFalse = ccittFalse_;
    std::uint16_t xmodem = xmodem_;
    std::uint16_t arc = arc_;
    std::uint16_t modbus = modbus_;
    std::uint32_t crc32 = crc32_;
    std::uint32_t crc32c = crc32c_;
    const std::uint8_t* at = bytes.data();
    const std::uint8_t* const end = at + bytes.size();
    for (; end - at >= 8; at += 8) {
        sum += static_cast<std::uint32_t>(at[0]) + at[1] + at[2] + at[3] + at[4] + at[5] + at[6] + at[7];
        ccittFalse = forwardEight(ccittFalse, at, kCcitt);
        xmodem = forwardEight(xmodem, at, kCcitt);
        arc = reflectedEight(arc, at, kArc);
        modbus = reflectedEight(modbus, at, kArc);
        crc32 = reflectedEight(crc32, at, kCrc32);
        crc32c = reflectedEight(crc32c, at, kCrc32c);
    }
    for (; at < end; ++at) {
        const std::uint8_t byte = *at;
        sum += byte;
        ccittFalse = static_cast<std::uint16_t>((ccittFalse << 8) ^ kCcitt[0][((ccittFalse >> 8) ^ byte) & 0xFF]);
        xmodem = static_cast<std::uint16_t>((xmodem << 8) ^ kCcitt[0][((xmodem >> 8) ^ byte) & 0xFF]);
        arc = static_cast<std::uint16_t>((arc >> 8) ^ kArc[0][(arc ^ byte) & 0xFF]);
        modbus = static_cast<std::uint16_t>((modbus >> 8) ^ kArc[0][(modbus ^ byte) & 0xFF]);
        crc32 = (crc32 >> 8) ^ kCrc32[0][(crc32 ^ byte) & 0xFF];
        crc32c = (crc32c >> 8) ^ kCrc32c[0][(crc32c ^ byte) & 0xFF];
    }
    sum_ = sum;
    ccittFalse_ = ccittFalse;
    xmodem_ = xmodem;
    arc_ = arc;
    modbus_ = modbus;
    crc32_ = crc32;
    crc32c_ = crc32c;
}

std::uint32_t ChecksumState::value(ChecksumKind kind) const
{
    switch (kind) {
    case ChecksumKind::ZeroSum8:
        return sum_ & 0xFF;
    case ChecksumKind::Sum16:
        return sum_ & 0xFFFF;
    case ChecksumKind::Sum32:
        return sum_;
    case ChecksumKind::NegatedSum16:
        return (0u - sum_) & 0xFFFF;
    case ChecksumKind::NegatedSum32:
        return 0u - sum_;
    case ChecksumKind::InvertedSum16:
        return ~sum_ & 0xFFFF;
    case ChecksumKind::InvertedSum32:
        return ~sum_;
    case ChecksumKind::Crc16CcittFalse:
        return ccittFalse_;
    case ChecksumKind::Crc16Xmodem:
        return xmodem_;
    case ChecksumKind::Crc16Arc:
        return arc_;
    case ChecksumKind::Crc16Modbus:
        return modbus_;
    case ChecksumKind::Crc32:
        return ~crc32_;
    case ChecksumKind::Crc32c:
        return ~crc32c_;
    }
    return 0;
}

std::optional<Checksum> findChecksum(std::int64_t length, const ChecksumReader& read)
{
    if (length < kSmallestCheckedImage)
        return std::nullopt;
    // Where a field may end: the image's end, and the start of a trailing
    // run of 0xFF or 0x00 padding; a field wholly inside the padding is none.
    std::vector<std::int64_t> ends{length};
    std::int64_t padded = length;
    for (const std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
        const auto start = paddingStart(length, fill, read);
        if (!start)
            return std::nullopt;
        // An image of nothing but padding carries no checksum, whatever it sums to.
        if (*start == 0)
            return std::nullopt;
        padded = std::min(padded, *start);
        // A field may itself end in bytes like the padding.
        for (std::int64_t end = *start; end < std::min(length, *start + 4); ++end)
            ends.push_back(end);
    }
    // The data of a field of `size` bytes ending at `end` runs up to end - size.
    std::map<std::int64_t, ChecksumState> states;
    for (const std::int64_t end : ends) {
        for (const int size : {2, 4}) {
            if (end - size >= 1)
                states.emplace(end - size, ChecksumState{});
        }
    }
    ChecksumState running;
    ByteCounts counts{};
    std::vector<std::uint8_t> buffer;
    std::int64_t at = 0;
    for (auto& [dataEnd, state] : states) {
        if (!feed(running, at, dataEnd, read, buffer, &counts))
            return std::nullopt;
        at = dataEnd;
        state = running;
    }
    if (!feed(running, at, length, read, buffer, &counts))
        return std::nullopt;

    // Chance matches grow with every field tried: each end, form and byte order.
    const double tries = static_cast<double>(ends.size() * std::size(kTailForms) * 2);
    std::optional<Checksum> best;
    for (const std::int64_t end : ends) {
        for (const ChecksumKind kind : kTailForms) {
            const int size = fieldSize(kind);
            const auto found = states.find(end - size);
            // A field that begins inside the padding is the padding.
            if (found == states.end() || (end - size >= padded && end > padded))
                continue;
            std::array<std::uint8_t, 4> field{};
            const auto bytes = std::span(field).first(static_cast<std::size_t>(size));
            if (!read(end - size, bytes))
                return std::nullopt;
            for (const bool bigEndian : {false, true}) {
                if (fieldValue(bytes, bigEndian) != found->second.value(kind))
                    continue;
                // A CRC takes every value alike; a sum of mostly-zero bytes is
                // a small number, as likely as the image's own bytes make it.
                double odds = std::ldexp(1.0, -8 * size);
                if (!isCrc(kind)) {
                    double likeBytes = 1;
                    for (const std::uint8_t byte : bytes)
                        likeBytes *= static_cast<double>(std::max<std::int64_t>(counts[byte], 1))
                                     / static_cast<double>(length);
                    odds = std::max(odds, likeBytes);
                }
                odds = std::min(1.0, odds * tries);
                const Checksum match{kind, bigEndian, end - size, end - size + 1, size, odds};
                if (!best || moreLikelyMade(match, *best))
                    best = match;
            }
        }
    }
    if (best)
        return best;
    // One image in 256 sums to zero by chance: only whole blocks count, and
    // only a PC option ROM's header (55 AA, then its length in blocks)
    // confirms it.
    if (running.value(ChecksumKind::ZeroSum8) == 0 && length % kZeroSumBlock == 0) {
        const std::optional<bool> optionRom = hasOptionRomHeader(length, read);
        if (!optionRom)
            return std::nullopt;
        return Checksum{ChecksumKind::ZeroSum8, false, length, length, 1, *optionRom ? 1.0 / (256.0 * (1 << 24)) : 1.0 / 256};
    }
    return std::nullopt;
}

std::optional<bool> hasOptionRomHeader(std::int64_t length, const ChecksumReader& read)
{
    if (length < 3 || length % kZeroSumBlock != 0)
        return false;
    std::array<std::uint8_t, 3> header{};
    if (!read(0, header))
        return std::nullopt;
    return header[0] == 0x55 && header[1] == 0xAA && header[2] * kZeroSumBlock == length;
}

std::optional<ChecksumCheck> checkChecksum(const Checksum& checksum, const ChecksumReader& read)
{
    ChecksumState state;
    std::vector<std::uint8_t> buffer;
    const bool zeroSum = checksum.kind == ChecksumKind::ZeroSum8;
    // The zero sum's fix-up byte is left out: the sum of the rest says what it must be.
    const std::int64_t dataEnd = zeroSum ? checksum.field - 1 : checksum.dataEnd;
    if (!feed(state, 0, dataEnd, read, buffer))
        return std::nullopt;
    std::array<std::uint8_t, 4> field{};
    const auto bytes = std::span(field).first(static_cast<std::size_t>(checksum.size));
    if (!read(checksum.field - 1, bytes))
        return std::nullopt;
    if (zeroSum) {
        ChecksumState rest = state;
        if (!feed(rest, checksum.field, checksum.dataEnd, read, buffer))
            return std::nullopt;
        return ChecksumCheck{(0x100 - rest.value(ChecksumKind::ZeroSum8)) & 0xFF, field[0]};
    }
    return ChecksumCheck{state.value(checksum.kind), fieldValue(bytes, checksum.bigEndian)};
}

std::vector<std::uint8_t> checksumBytes(const Checksum& checksum, std::uint32_t value)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(checksum.size));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
        bytes[checksum.bigEndian ? bytes.size() - 1 - i : i] = byte;
    }
    return bytes;
}

} // namespace dotmatrix
