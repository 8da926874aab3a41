#include "fileerror.h"

namespace dotmatrix {

FileError::FileError(PassFile file, const std::string& path, const std::string& action, const std::string& reason,
                     std::error_code code)
    : std::runtime_error("Cannot " + action + " the " + (file == PassFile::SourceFile ? "source" : "target")
                         + " file \"" + path + "\": " + reason + "."),
      code_(code)
{
}

FileError targetShortened(const std::string& path, std::int64_t length, std::int64_t written)
{
    return FileError(PassFile::TargetFile, path, "complete",
                     "it is " + std::to_string(length) + " bytes long where the pass has written "
                         + std::to_string(written) + ": another program has shortened it during the pass, and the "
                         + "bytes from position " + std::to_string(length + 1) + " on are missing");
}

} // namespace dotmatrix
