#include "fileerror.h"

namespace dotmatrix {

FileError::FileError(PassFile file, const std::string& path, const std::string& action, const std::string& reason)
    : std::runtime_error("Cannot " + action + " the " + (file == PassFile::SourceFile ? "source" : "target")
                         + " file \"" + path + "\": " + reason + ".")
{
}

} // namespace dotmatrix
