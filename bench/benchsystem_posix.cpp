#include "benchsystem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long residentKiB()
{
    long pages = 0;
    long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void settle()
{
    ::sync();
}

double plainCopy(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    settle();
    const auto start = Clock::now();
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        fail("cannot open the baseline files");
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0)
            fail("baseline read failed");
        if (got == 0)
            break;
        if (::write(out, buffer.data(), static_cast<std::size_t>(got)) != got)
            fail("baseline write failed");
    }
    if (::fsync(out) != 0)
        fail("baseline fsync failed");
    ::close(in);
    ::close(out);
    return secondsSince(start);
}

double systemCopy(const std::string& from, const std::string& to)
{
    std::filesystem::remove(to);
    settle();
    const auto start = Clock::now();
    if (std::system(("cp --reflink=auto '" + from + "' '" + to + "'").c_str()) != 0)
        fail("cp failed");
    const int out = ::open(to.c_str(), O_WRONLY);
    if (out < 0 || ::fsync(out) != 0)
        fail("cannot fsync the copy");
    ::close(out);
    return secondsSince(start);
}

