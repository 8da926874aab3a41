#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

namespace dotmatrix {

// The two files of a pass, numbered as the pass knows them.
enum class PassFile { SourceFile = 1, TargetFile = 2 };

// A file operation that failed: which file, its path and the system's reason.
class FileError : public std::runtime_error {
public:
    FileError(PassFile file, const std::string& path, const std::string& action, const std::string& reason,
              std::error_code code = {});

    // The system's reason, where it gave one.
    [[nodiscard]] const std::error_code& code() const { return code_; }

private:
    std::error_code code_;
};

// The target is shorter than what the pass has written to it: another
// program has cut it off.
[[nodiscard]] FileError targetShortened(const std::string& path, std::int64_t length, std::int64_t written);

} // namespace dotmatrix
