#pragma once

#include <stdexcept>
#include <string>

namespace dotmatrix {

// The two files of a pass, numbered as the pass knows them.
enum class PassFile { SourceFile = 1, TargetFile = 2 };

// A file operation that failed: which file, its path and the system's reason.
class FileError : public std::runtime_error {
public:
    FileError(PassFile file, const std::string& path, const std::string& action, const std::string& reason);
};

} // namespace dotmatrix
