#include "platformfile.h"

#include <filesystem>

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include "conversionpass.h"
#include "testfiles.h"

namespace dotmatrix {
namespace {

using testing::Bytes;
using testing::countingBytes;
using testing::readFile;
using testing::writeFile;

std::string utf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::filesystem::path fromUtf8(const std::string& text)
{
    return std::u8string(text.begin(), text.end());
}

// Reads a file through the platform layer, which takes any UTF-8 path.
Bytes readThrough(const std::string& path)
{
    std::error_code error;
    PlatformFile file = PlatformFile::open(path, PlatformFile::Access::ReadOnly, error);
    Bytes bytes(static_cast<std::size_t>(error ? 0 : file.size(error)));
    if (!error)
        bytes.resize(file.readAt(0, bytes, error));
    EXPECT_FALSE(error) << error.message();
    return bytes;
}

TEST(WindowsFiles, DevicesAndDisksAreRefusedByName)
{
    testing::TempFolder folder;
    struct Case {
        std::string path;
        std::string said;
    };
    const Case cases[] = {
        {"NUL", "it is a device"},
        {"con", "it is a device"},
        {folder.path("COM1"), "it is a device"},
        {folder.path("nul.rom"), "it is a device"},
        {"\\\\.\\CONOUT$", "it is a device"},
        {"\\\\.\\pipe\\dotmatrix", "it is a named pipe"},
        {"\\\\.\\PhysicalDrive0", "make an image file of it"},
        {"\\\\.\\C:", "make an image file of it"},
        {"//./E:", "make an image file of it"},
    };
    for (const Case& refused : cases) {
        for (const auto access : {PlatformFile::Access::ReadOnly, PlatformFile::Access::ReadWrite}) {
            std::error_code error;
            const PlatformFile file = PlatformFile::open(refused.path, access, error);
            EXPECT_NE(error.message().find(refused.said), std::string::npos) << refused.path << ": " << error.message();
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path("")));
}

TEST(WindowsFiles, WidePathsBeyondTheOldLengthLimitWork)
{
    testing::TempFolder folder;
    // Names in three scripts, nested past 260 characters.
    std::filesystem::path deep = fromUtf8(folder.path(""));
    while (deep.native().size() < 300)
        deep /= std::filesystem::path(u8"Schrift \u00e4\u00f6\u00fc \u0418\u0432\u0430\u043d \u6587\u5b57");
    std::filesystem::create_directories(deep);
    const std::string source = utf8(deep / u8"f\u00f6nt.rom");
    const std::string target = utf8(deep / u8"z\u00eal.bin");
    ASSERT_GT(source.size(), 300U);
    {
        std::error_code error;
        PlatformFile file = PlatformFile::open(source, PlatformFile::Access::ReadWrite, error);
        ASSERT_FALSE(error) << error.message();
        const Bytes bytes = countingBytes(40);
        file.writeAt(0, bytes, error);
        ASSERT_FALSE(error) << error.message();
    }
    testing::RecordingWindow window;
    ConversionPass pass(window);
    pass.setSourcePath(source);
    pass.setTargetPath(target);
    window.offset = std::to_string(5);  // a literal here trips GCC 12's -Wrestrict at -O3
    pass.start();
    ASSERT_TRUE(pass.isOpen()) << (window.problems.empty() ? "" : window.problems.back());
    ASSERT_TRUE(pass.toggleDot(0, 7));
    pass.nextCharacter();
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
    Bytes expected = countingBytes(40);
    expected[4] ^= 0x80;
    EXPECT_EQ(readThrough(target), expected);
    EXPECT_TRUE(isSameFile(source, source));
    EXPECT_FALSE(isSameFile(source, target));
}

TEST(WindowsFiles, ASparseSourceLeavesHolesInTheTarget)
{
    constexpr std::int64_t kMiB = 1 << 20;
    testing::TempFolder folder;
    const std::string source = folder.path("sparse.rom");
    writeFile(source, {});
    const HANDLE file = ::CreateFileW(fromUtf8(source).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    const bool sparse = ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = 32 * kMiB;
    ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file);
    LARGE_INTEGER at{};
    at.QuadPart = 16 * kMiB;
    ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    const Bytes data = countingBytes(4096, 7);
    DWORD written = 0;
    ::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!sparse)
        GTEST_SKIP() << "this file system has no sparse files";

    FileService files;
    files.open(source, folder.path("target.bin"));
    EXPECT_TRUE(files.copier().copy(Position(1), Position(32 * kMiB)));
    files.closeAll();
    EXPECT_EQ(readFile(folder.path("target.bin")), readFile(source));
    const DWORD allocatedLow = ::GetCompressedFileSizeW(fromUtf8(folder.path("target.bin")).c_str(),
                                                        nullptr);
    if (testing::underWine())
        GTEST_SKIP() << "Wine does not report allocated sizes";
    EXPECT_LT(allocatedLow, static_cast<DWORD>(4 * kMiB));
}

TEST(WindowsFiles, APassKeepsItsFilesAsLinuxDoes)
{
    testing::TempFolder folder;
    const std::string source = folder.path("font.rom");
    const std::string target = folder.path("out.bin");
    writeFile(source, countingBytes(40));
    const auto openedFor = [](const std::string& path, DWORD access) {
        const HANDLE other = ::CreateFileW(fromUtf8(path).c_str(), access,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool opened = other != INVALID_HANDLE_VALUE;
        if (opened)
            ::CloseHandle(other);
        return opened;
    };

    // While a pass is open, others may read the source but not write it; a
    // program that writes it already keeps the pass from starting.
    testing::RecordingWindow window;
    window.offset = "5";
    ConversionPass pass(window);
    pass.setSourcePath(source);
    pass.setTargetPath(target);
    pass.start();
    ASSERT_TRUE(pass.isOpen());
    EXPECT_TRUE(openedFor(source, GENERIC_READ));
    EXPECT_FALSE(openedFor(source, GENERIC_WRITE));
    pass.skipRest();
    EXPECT_EQ(window.completed, 1);
    const HANDLE writer = ::CreateFileW(fromUtf8(source).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    pass.start();
    ::CloseHandle(writer);
    EXPECT_FALSE(pass.isOpen());
    ASSERT_FALSE(window.problems.empty());
    EXPECT_NE(window.problems.back().find("another program is using it.\n\nClose that program"), std::string::npos)
        << window.problems.back();

    // A dangling link as the target is refused, and nothing is created.
    const std::string link = folder.path("link.bin");
    // Wine keeps links as the host's, which its calls follow of themselves.
    if (!testing::underWine()
        && ::CreateSymbolicLinkW(fromUtf8(link).c_str(), fromUtf8(folder.path("gone.bin")).c_str(),
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        std::error_code error;
        (void)PlatformFile::open(link, PlatformFile::Access::ReadWrite, error);
        EXPECT_EQ(error, std::error_code(UnusableFile::DanglingLink)) << error.message();
        EXPECT_FALSE(std::filesystem::exists(fromUtf8(folder.path("gone.bin"))));
    }

    // A target deleted while open is known as deleted by its handle.
    std::error_code error;
    PlatformFile open = PlatformFile::open(target, PlatformFile::Access::ReadWrite, error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_FALSE(open.deleted(error));
    ASSERT_TRUE(::DeleteFileW(fromUtf8(target).c_str()));
    const bool deleted = open.deleted(error);
    if (!deleted && testing::underWine())
        GTEST_SKIP() << "Wine does not report a pending delete";
    EXPECT_TRUE(deleted);
}

} // namespace
} // namespace dotmatrix
