#pragma once

#include <string>

// What the pass benchmark needs of the system, one file per platform.

// Ends the benchmark with a message.
[[noreturn]] void fail(const std::string& what);
// The peak resident memory of this process so far, and now.
long peakResidentKiB();
long residentKiB();
// The processor time this process has used so far, on all its threads, in seconds.
double processorSeconds();
// Lets the system write out every dirty page first, so that no timed run
// pays for the writes of the one before it.
void settle();
// The baseline: the whole file in 1 MiB reads and writes to a fresh file,
// then one flush to the disk. Returns seconds.
double plainCopy(const std::string& from, const std::string& to);
// What the system's own copy does on this file system (`cp --reflink=auto`
// on Linux, CopyFile on Windows), then one flush to the disk. Returns seconds.
double systemCopy(const std::string& from, const std::string& to);
