#include "util/FileError.h"

#include "util/Platform.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace corvanta {

namespace {

// Names are UTF-8 on every platform.
std::string folderOf(const std::string& path) {
    const std::filesystem::path parent = platform::pathFromUtf8(path).parent_path();
    return parent.empty() ? std::string(".") : platform::utf8FromPath(parent);
}

} // namespace

std::string describeFileError(int errorNumber, const std::string& path) {
    const std::string quoted = "\"" + path + "\"";
    switch (errorNumber) {
    case ENOENT:
        return "The folder " + std::string("\"") + folderOf(path) + "\" does not exist.";
    case ENOTDIR:
        return "The path " + quoted + " goes through something that is not a folder.";
    case EACCES:
    case EPERM:
        return "No permission to write " + quoted + ".";
    case EROFS:
        return "The folder of " + quoted + " is on a read-only drive.";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "The disk is full: " + quoted + " could not be written.";
    case EFBIG:
        return quoted + " would be larger than the drive allows for one file.";
    case EISDIR:
        return quoted + " is a folder, not a file.";
    case ENAMETOOLONG:
        return "The file name " + quoted + " is too long.";
    case EBUSY:
    case ETXTBSY:
        return quoted + " is in use by another program.";
    default:
        return "Could not write " + quoted + ": " + std::generic_category().message(errorNumber) +
               ".";
    }
}

} // namespace corvanta
