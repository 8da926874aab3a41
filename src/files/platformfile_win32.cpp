#include "platformfile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

// Here a file's handle is a Windows HANDLE. Paths arrive in UTF-8 and reach
// the system as wide strings with the \\?\ prefix, so no length limit applies.

namespace dotmatrix {

namespace {

// Block cloning (ReFS, Dev Drive); older headers lack its names.
constexpr DWORD kDuplicateExtentsToFile = 0x00098344;
constexpr DWORD kSupportsBlockRefcounting = 0x08000000;
struct DuplicateExtentsData {
    HANDLE FileHandle;
    LARGE_INTEGER SourceFileOffset;
    LARGE_INTEGER TargetFileOffset;
    LARGE_INTEGER ByteCount;
};
// Clones go by whole clusters; 64 KiB is a multiple of every cluster size ReFS uses.
constexpr std::int64_t kCloneAlignment = 64 * 1024;
constexpr std::int64_t kSparseFrom = 64 * 1024;

class WindowsErrorCategory : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "windows"; }

    [[nodiscard]] std::string message(int code) const override
    {
        wchar_t* text = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
            static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
            nullptr);
        std::string said;
        if (length > 0) {
            const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                                                    nullptr);
            said.resize(static_cast<std::size_t>(bytes));
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), said.data(), bytes, nullptr, nullptr);
        }
        ::LocalFree(text);
        // The tool's messages end their own sentences.
        while (!said.empty() && (said.back() == '.' || std::isspace(static_cast<unsigned char>(said.back())) != 0))
            said.pop_back();
        return said.empty() ? "system error " + std::to_string(code) : said;
    }

    [[nodiscard]] std::error_condition default_error_condition(int code) const noexcept override
    {
        switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::errc::no_such_file_or_directory;
        case ERROR_ACCESS_DENIED:
            return std::errc::permission_denied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::errc::no_space_on_device;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::errc::device_or_resource_busy;
        case ERROR_FILE_TOO_LARGE:
            return std::errc::file_too_large;
        default:
            return {code, *this};
        }
    }
};

const std::error_category& windowsCategory()
{
    static const WindowsErrorCategory category;
    return category;
}

std::error_code lastError()
{
    return {static_cast<int>(::GetLastError()), windowsCategory()};
}


HANDLE nativeHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::wstring upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

bool startsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// What a path names when it names a device rather than a file: the names
// Windows reserves in every folder (NUL, CON, COM1, ...), and \\.\ paths.
std::error_code deviceName(const std::wstring& path)
{
    const std::wstring name = upper(path);
    if (startsWith(name, L"\\\\.\\") || startsWith(name, L"\\\\?\\")) {
        const std::wstring rest = name.substr(4);
        if (startsWith(rest, L"PIPE\\"))
            return UnusableFile::NamedPipe;
        const bool volume = rest.size() == 2 && rest[1] == L':';
        if (volume || startsWith(rest, L"PHYSICALDRIVE") || startsWith(rest, L"HARDDISK")
            || startsWith(rest, L"CDROM") || (startsWith(rest, L"VOLUME{") && rest.find(L'\\') == std::wstring::npos)
            || startsWith(rest, L"GLOBALROOT"))
            return UnusableFile::RawDisk;
        if (startsWith(name, L"\\\\.\\"))
            return UnusableFile::CharacterDevice;
    }
    // The last component, without extension or trailing dots and blanks.
    std::wstring last = name.substr(name.find_last_of(L"\\/:") == std::wstring::npos ? 0
                                                                                       : name.find_last_of(L"\\/:") + 1);
    last = last.substr(0, last.find(L'.'));
    while (!last.empty() && last.back() == L' ')
        last.pop_back();
    static const std::array<const wchar_t*, 6> reserved = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* word : reserved) {
        if (last == word)
            return UnusableFile::CharacterDevice;
    }
    const bool numbered = last.size() == 4 && (startsWith(last, L"COM") || startsWith(last, L"LPT"))
                          && ((last[3] >= L'1' && last[3] <= L'9') || last[3] == L'\u00B9' || last[3] == L'\u00B2'
                              || last[3] == L'\u00B3');
    return numbered ? std::error_code(UnusableFile::CharacterDevice) : std::error_code();
}

// The path as the system takes it: wide, absolute, with \\?\ in front.
std::wstring systemPath(const std::string& utf8, std::error_code& error)
{
    std::wstring wide;
    if (!utf8.empty()) {
        const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                 static_cast<int>(utf8.size()), nullptr, 0);
        if (length <= 0) {
            error = lastError();
            return {};
        }
        wide.resize(static_cast<std::size_t>(length));
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              length);
    }
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\"))
        return wide;
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        error = lastError();
        return {};
    }
    std::wstring full(needed, L'\0');
    full.resize(::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr));
    if (startsWith(full, L"\\\\.\\"))
        return full;  // a device, which the caller refuses
    if (startsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

FileIdentity identityOfHandle(HANDLE handle, std::error_code& error)
{
    error.clear();
    // Volume serial and 128-bit file ID; older systems and Wine give the 64-bit one.
    FILE_ID_INFO id{};
    if (::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        std::memcpy(&low, id.FileId.Identifier, sizeof low);
        std::memcpy(&high, id.FileId.Identifier + sizeof low, sizeof high);
        return {id.VolumeSerialNumber, low ^ (high * 0x9E3779B97F4A7C15ULL)};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        error = lastError();
        return {};
    }
    return {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool isSparse(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
}

// The first allocated range that ends after `offset`, within `size`; an
// empty range at `size` where none does. False where the system can't tell.
bool allocatedRangeFrom(HANDLE handle, std::int64_t offset, std::int64_t size, std::int64_t& begin,
                        std::int64_t& end)
{
    FILE_ALLOCATED_RANGE_BUFFER query{};
    query.FileOffset.QuadPart = offset;
    query.Length.QuadPart = size - offset;
    std::array<FILE_ALLOCATED_RANGE_BUFFER, 16> ranges{};
    DWORD returned = 0;
    const BOOL done = ::DeviceIoControl(handle, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, ranges.data(),
                                        static_cast<DWORD>(sizeof ranges), &returned, nullptr);
    if (!done && ::GetLastError() != ERROR_MORE_DATA)
        return false;
    const std::size_t count = returned / sizeof(FILE_ALLOCATED_RANGE_BUFFER);
    if (count == 0) {
        begin = end = size;
        return true;
    }
    begin = std::max<std::int64_t>(ranges[0].FileOffset.QuadPart, offset);
    end = ranges[0].FileOffset.QuadPart + ranges[0].Length.QuadPart;
    // Ranges that touch make one stretch of data.
    for (std::size_t i = 1; i < count && ranges[i].FileOffset.QuadPart == end; ++i)
        end += ranges[i].Length.QuadPart;
    begin = std::min(begin, size);
    end = std::min(end, size);
    return true;
}

} // namespace

std::string unusableFileReason(UnusableFile reason)
{
    switch (reason) {
    case UnusableFile::CharacterDevice:
        return "it is a device" + std::string(kUnaddressable);
    case UnusableFile::KernelFile:
        return "its reported length does not tell what it holds";
    case UnusableFile::MountedDisk:
        return "it holds a file system that is in use";
    case UnusableFile::DiskInUse:
    case UnusableFile::Locked:
        return "another program is using it";
    case UnusableFile::DanglingLink:
        return "it is a link to a file that does not exist";
    case UnusableFile::RawDisk:
        return "it is a whole disk or volume, which this tool does not write to; make an image file of it "
               "and choose that instead";
    case UnusableFile::NamedPipe:
    case UnusableFile::Socket:
        break;  // said alike everywhere
    }
    return {};
}

PlatformFile PlatformFile::open(const std::string& path, Access access, std::error_code& error)
{
    error.clear();
    const std::wstring name = systemPath(path, error);
    if (error)
        return {};
    // Devices are refused by name, before opening can have effects of its own.
    error = deviceName(name);
    if (error)
        return {};
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = std::make_error_code(std::errc::is_a_directory);
        return {};
    }
    // A link to nothing: opening it would create a file where it points, not
    // the file the user named.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const HANDLE followed = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (followed == INVALID_HANDLE_VALUE) {
            const DWORD why = ::GetLastError();
            if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) {
                error = UnusableFile::DanglingLink;
                return {};
            }
        } else {
            ::CloseHandle(followed);
        }
    }
    // Others may read both files meanwhile, and rename or delete them, which
    // the pass notices; only the source may be written by others, so that
    // one file can be source and target at once.
    const DWORD share = access == Access::ReadOnly ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                                   : FILE_SHARE_READ | FILE_SHARE_DELETE;
    const DWORD wanted = access == Access::ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = access == Access::ReadOnly ? OPEN_EXISTING : OPEN_ALWAYS;
    const HANDLE handle = ::CreateFileW(name.c_str(), wanted, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ::GetLastError() == ERROR_SHARING_VIOLATION || ::GetLastError() == ERROR_LOCK_VIOLATION
                    ? std::error_code(UnusableFile::Locked)
                    : lastError();
        return {};
    }
    const bool created = access == Access::ReadWrite && ::GetLastError() != ERROR_ALREADY_EXISTS;
    PlatformFile file(reinterpret_cast<Handle>(handle), false, created);
    switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK:
        break;
    case FILE_TYPE_PIPE:
        error = UnusableFile::NamedPipe;
        break;
    default:
        error = UnusableFile::CharacterDevice;
        break;
    }
    if (error) {
        file.close();
        if (created)
            remove(path);
        return {};
    }
    return file;
}

FileIdentity PlatformFile::identityOf(const std::string& path, std::error_code& error)
{
    error.clear();
    const std::wstring name = systemPath(path, error);
    if (error)
        return {};
    const HANDLE handle = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return {};
    }
    FileIdentity identity = identityOfHandle(handle, error);
    // A file deleted while open keeps its name until the last handle goes,
    // then vanishes with everything written to it: it is gone already.
    FILE_STANDARD_INFO standard{};
    if (!error && ::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)
        && standard.DeletePending) {
        error = {ERROR_FILE_NOT_FOUND, windowsCategory()};
        identity = {};
    }
    ::CloseHandle(handle);
    return identity;
}

void PlatformFile::remove(const std::string& path) noexcept
{
    std::error_code error;
    const std::wstring name = systemPath(path, error);
    if (!error)
        ::DeleteFileW(name.c_str());
}

std::string PlatformFile::detail(const std::string& /*path*/, const std::error_code& /*reason*/)
{
    return {};
}

void PlatformFile::lock(bool exclusive, std::error_code& error)
{
    // open() shares the target with readers only: that is its lock here. The
    // source, open for everyone so that one file can be source and target,
    // is now shared with readers only as well: a handle of that sharing takes
    // the place of the first, and fails where another program writes it.
    error.clear();
    if (exclusive)
        return;
    const HANDLE shared = ::ReOpenFile(nativeHandle(handle_), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
    if (shared == INVALID_HANDLE_VALUE) {
        error = ::GetLastError() == ERROR_SHARING_VIOLATION ? std::error_code(UnusableFile::Locked) : lastError();
        return;
    }
    ::CloseHandle(nativeHandle(std::exchange(handle_, reinterpret_cast<Handle>(shared))));
}

bool PlatformFile::deleted(std::error_code& error) const
{
    error.clear();
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(nativeHandle(handle_), FileStandardInfo, &standard, sizeof standard)) {
        error = lastError();
        return false;
    }
    return standard.DeletePending != FALSE;
}

std::size_t PlatformFile::readAt(std::int64_t offset, std::span<std::uint8_t> into, std::error_code& error)
{
    error.clear();
    std::size_t done = 0;
    while (done < into.size()) {
        const auto at = offset + static_cast<std::int64_t>(done);
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(into.size() - done, 1U << 30));
        DWORD got = 0;
        if (!::ReadFile(nativeHandle(handle_), into.data() + done, wanted, &got, &where)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            error = lastError();
            break;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

void PlatformFile::writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes, std::error_code& error)
{
    error.clear();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto at = offset + static_cast<std::int64_t>(done);
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 30));
        DWORD put = 0;
        if (!::WriteFile(nativeHandle(handle_), bytes.data() + done, wanted, &put, &where)) {
            error = lastError();
            return;
        }
        if (put == 0) {
            error = std::make_error_code(std::errc::no_space_on_device);
            return;
        }
        done += put;
    }
}

std::int64_t PlatformFile::size(std::error_code& error) const
{
    error.clear();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(nativeHandle(handle_), &size)) {
        error = lastError();
        return 0;
    }
    return size.QuadPart;
}

void PlatformFile::extend(std::int64_t size, std::error_code& error)
{
    const std::int64_t now = this->size(error);
    if (error || size <= now)
        return;
    // A long stretch of zeros stays a hole where the file system has them.
    if (size - now >= kSparseFrom && !isSparse(nativeHandle(handle_))) {
        DWORD returned = 0;
        ::DeviceIoControl(nativeHandle(handle_), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!::SetFileInformationByHandle(nativeHandle(handle_), FileEndOfFileInfo, &end, sizeof end))
        error = lastError();
}

void PlatformFile::sync(std::error_code& error)
{
    error.clear();
    if (!::FlushFileBuffers(nativeHandle(handle_)))
        error = lastError();
}

FileIdentity PlatformFile::identity(std::error_code& error) const
{
    return identityOfHandle(nativeHandle(handle_), error);
}

std::vector<ByteStretch> PlatformFile::sharedWith(const PlatformFile&, std::int64_t, std::int64_t,
                                                  std::error_code& error) const
{
    // Block cloning shares clusters on ReFS, but nothing here asks which.
    error.clear();
    return {};
}

std::int64_t PlatformFile::nextData(std::int64_t offset, std::int64_t size, std::error_code& error) const
{
    error.clear();
    if (offset >= size)
        return size;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    // Only sparse files have holes; elsewhere every byte is data.
    if (!isSparse(nativeHandle(handle_)) || !allocatedRangeFrom(nativeHandle(handle_), offset, size, begin, end))
        return offset;
    return begin;
}

std::int64_t PlatformFile::nextHole(std::int64_t offset, std::int64_t size, std::error_code& error) const
{
    error.clear();
    if (offset >= size)
        return size;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    if (!isSparse(nativeHandle(handle_)) || !allocatedRangeFrom(nativeHandle(handle_), offset, size, begin, end)
        || begin > offset)
        return begin > offset ? offset : size;
    return end;
}

std::int64_t PlatformFile::copyTo(PlatformFile& target, std::int64_t offset, std::int64_t count, bool& declined,
                                  std::error_code& error)
{
    error.clear();
    declined = false;
    const HANDLE from = nativeHandle(handle_);
    const HANDLE to = nativeHandle(target.handle_);
    // Clones share clusters on one volume that counts references to them.
    DWORD flags = 0;
    std::error_code ignored;
    if (!::GetVolumeInformationByHandleW(to, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        || (flags & kSupportsBlockRefcounting) == 0 || identity(ignored).device != target.identity(ignored).device) {
        declined = true;
        return 0;
    }
    // Whole clusters only, and none behind the source's end.
    const std::int64_t available = std::min(count, size(error) - offset);
    if (error)
        return 0;
    const std::int64_t whole = available - available % kCloneAlignment;
    if (offset % kCloneAlignment != 0 || whole <= 0) {
        // Up to the next cluster boundary, or a short end, by reads and writes.
        std::vector<std::uint8_t> part(static_cast<std::size_t>(
            std::max<std::int64_t>(0, std::min(available, kCloneAlignment - offset % kCloneAlignment))));
        const std::size_t got = readAt(offset, part, error);
        if (!error)
            target.writeAt(offset, std::span<const std::uint8_t>(part).first(got), error);
        return error ? 0 : static_cast<std::int64_t>(got);
    }
    const std::int64_t before = target.size(error);
    if (error)
        return 0;
    target.extend(offset + whole, error);
    if (error)
        return 0;
    DuplicateExtentsData clone{};
    clone.FileHandle = from;
    clone.SourceFileOffset.QuadPart = offset;
    clone.TargetFileOffset.QuadPart = offset;
    clone.ByteCount.QuadPart = whole;
    DWORD returned = 0;
    if (!::DeviceIoControl(to, kDuplicateExtentsToFile, &clone, sizeof clone, nullptr, 0, &returned, nullptr)) {
        // Refused for this stretch: the target goes back to its length, and
        // the pass copies the stretch itself.
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = before;
        if (!::SetFileInformationByHandle(to, FileEndOfFileInfo, &end, sizeof end)) {
            error = lastError();
            return 0;
        }
        declined = true;
        return 0;
    }
    return whole;
}

void PlatformFile::close(std::error_code& error)
{
    error.clear();
    if (handle_ != kNoHandle && !::CloseHandle(nativeHandle(std::exchange(handle_, kNoHandle))))
        error = lastError();
}

void runThisThreadWhenIdle(bool idle)
{
    // A hint: where the system refuses it, the thread runs as before.
    (void)::SetThreadPriority(::GetCurrentThread(), idle ? THREAD_PRIORITY_IDLE : THREAD_PRIORITY_NORMAL);
}

} // namespace dotmatrix
