#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dotmatrix {

// The checksums that firmware images carry of their own bytes.
enum class ChecksumKind {
    ZeroSum8,  // every byte of the image sums to 0 modulo 256
    Sum16,
    Sum32,
    NegatedSum16,  // two's complement of the sum
    NegatedSum32,
    InvertedSum16,  // one's complement of the sum
    InvertedSum32,
    Crc16CcittFalse,
    Crc16Xmodem,
    Crc16Arc,
    Crc16Modbus,
    Crc32,
    Crc32c,
};

// A checksum an image carries: of its bytes 1 to `dataEnd`, kept in the
// `size` bytes from position `field` on. The 8-bit zero sum covers the whole
// image, and its fix-up byte is the last.
struct Checksum {
    ChecksumKind kind = ChecksumKind::Crc32;
    bool bigEndian = false;
    std::int64_t dataEnd = 0;
    std::int64_t field = 0;
    int size = 0;
    // The chance that an image without this checksum matches it all the
    // same, judged on the image's own bytes and on every form tried.
    double odds = 0;
    // True where chance can be ruled out: the odds are below one in a
    // million, or the image's structure says what it carries.
    [[nodiscard]] bool confirmed() const { return odds < 1e-6; }
};

// "CRC-32", "16-bit sum", "two's complement of the 32-bit sum", ...
[[nodiscard]] std::string checksumName(ChecksumKind kind);
// "The source ends with a CRC-32 of its bytes 1 to 262140 at 262141 to 262144";
// one that is not confirmed adds its odds.
[[nodiscard]] std::string describeChecksum(const Checksum& checksum);

// "one image in 4096 would", "most images": how often chance does it.
[[nodiscard]] std::string chanceText(double odds);

// Every computation of the catalogue at once over one stream of bytes.
class ChecksumState {
public:
    void add(std::span<const std::uint8_t> bytes);
    // The value of `kind` over the bytes added so far.
    [[nodiscard]] std::uint32_t value(ChecksumKind kind) const;

private:
    std::uint32_t sum_ = 0;
    std::uint16_t ccittFalse_ = 0xFFFF;
    std::uint16_t xmodem_ = 0;
    std::uint16_t arc_ = 0;
    std::uint16_t modbus_ = 0xFFFF;
    std::uint32_t crc32_ = 0xFFFFFFFF;
    std::uint32_t crc32c_ = 0xFFFFFFFF;
};

// Reads `into.size()` bytes of a file from zero-based `offset`; false where
// the reader was asked to stop. Failures throw.
using ChecksumReader = std::function<bool(std::int64_t offset, std::span<std::uint8_t> into)>;

// Images smaller or larger than these are not checked at the start of a
// pass: a firmware image with a checksum is no smaller, and a larger one
// would hold up the start.
inline constexpr std::int64_t kSmallestCheckedImage = 256;
inline constexpr std::int64_t kLargestCheckedImage = std::int64_t{256} << 20;
// ROMs that sum to zero come in whole blocks of this many bytes.
inline constexpr std::int64_t kZeroSumBlock = 512;

// True where an image of `length` bytes starts as a PC option ROM does: 55 AA,
// then its length in 512-byte blocks. Nothing where `read` was stopped.
[[nodiscard]] std::optional<bool> hasOptionRomHeader(std::int64_t length, const ChecksumReader& read);

// What an image of `length` bytes carries, read once from start to end (and
// its trailing padding from the end back): of the catalogue forms that match
// its bytes exactly, the least likely by chance; a field inside the trailing
// padding is never one. Nothing where none matches or `read` was stopped.
[[nodiscard]] std::optional<Checksum> findChecksum(std::int64_t length, const ChecksumReader& read);

// The value `checksum` should have over an image as `read` gives it, and
// the value its field holds now; nothing where `read` was stopped. For the
// zero sum: the fix-up byte that makes the bytes sum to 0, and the one there.
struct ChecksumCheck {
    std::uint32_t wanted = 0;
    std::uint32_t held = 0;
    [[nodiscard]] bool matches() const { return wanted == held; }
};
[[nodiscard]] std::optional<ChecksumCheck> checkChecksum(const Checksum& checksum, const ChecksumReader& read);
// The bytes of `value` as the field keeps them.
[[nodiscard]] std::vector<std::uint8_t> checksumBytes(const Checksum& checksum, std::uint32_t value);

} // namespace dotmatrix
