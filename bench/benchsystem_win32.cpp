#include "benchsystem.h"

#include <chrono>
#include <filesystem>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <psapi.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void flushToDisk(const std::filesystem::path& path)
{
    const HANDLE file = ::CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !::FlushFileBuffers(file))
        fail("cannot flush " + path.string());
    ::CloseHandle(file);
}

} // namespace

long peakResidentKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

double processorSeconds()
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime)
               / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

long residentKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

void settle()
{
    // Windows has no call that writes out every dirty page for a normal user.
}

double plainCopy(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    const auto start = Clock::now();
    const HANDLE in = ::CreateFileW(std::filesystem::path(from).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE out = ::CreateFileW(std::filesystem::path(to).wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE)
        fail("cannot open the baseline files");
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            fail("baseline read failed");
        if (got == 0)
            break;
        DWORD put = 0;
        if (!::WriteFile(out, buffer.data(), got, &put, nullptr) || put != got)
            fail("baseline write failed");
    }
    if (!::FlushFileBuffers(out))
        fail("baseline flush failed");
    ::CloseHandle(in);
    ::CloseHandle(out);
    return secondsSince(start);
}

double systemCopy(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    const auto start = Clock::now();
    if (!::CopyFileW(std::filesystem::path(from).wstring().c_str(), std::filesystem::path(to).wstring().c_str(), FALSE))
        fail("CopyFile failed");
    flushToDisk(to);
    return secondsSince(start);
}
