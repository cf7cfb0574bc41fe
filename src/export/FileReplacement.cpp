#include "export/FileReplacement.h"

#include "util/Platform.h"

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace corvanta {

namespace fs = std::filesystem;

namespace {

// Where the new file really goes: through a symbolic link to the file it names, so that
// replacing keeps the link.
std::string resolvedTarget(const std::string& target) {
    std::error_code ec;
    const fs::path path = platform::pathFromUtf8(target);
    if (!fs::is_symlink(path, ec))
        return target;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? target : platform::utf8FromPath(resolved);
}

// Why an existing target may not be replaced, or empty: a file marked read-only (no write
// permission for anyone), or one this user may not write, stays as it is, although the
// folder would let a new file be renamed over it.
std::string protectionOf(const std::string& target) {
    std::error_code ec;
    const fs::file_status status = fs::status(platform::pathFromUtf8(target), ec);
    if (ec || !fs::is_regular_file(status))
        return {};
    constexpr fs::perms anyWrite =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if ((status.permissions() & anyWrite) == fs::perms::none)
        return "\"" + target + "\" is read-only; it was left as it is.";
    if (!platform::userMayWrite(target))
        return "No permission to write \"" + target + "\"; it was left as it is.";
    return {};
}

} // namespace

FileReplacement::FileReplacement(std::string target) : target_(resolvedTarget(target)) {}

FileReplacement::~FileReplacement() {
    discard();
}

bool FileReplacement::create(std::string& error) {
    std::error_code ec;
    const fs::path target = platform::pathFromUtf8(target_);
    if (fs::is_directory(target, ec)) {
        error = "\"" + target_ + "\" is a folder, not a file.";
        return false;
    }
    if (std::string protection = protectionOf(target_); !protection.empty()) {
        error = std::move(protection);
        return false;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<unsigned> digits(0, 0xFFFFFF);
    const fs::path folder = target.parent_path();
    int lastError = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".export-%06x.tmp", digits(random));
        const std::string candidate = platform::utf8FromPath(folder / name);
        errno = 0;
        // "x": fail rather than reuse a name that exists.
        if (std::FILE* file = platform::openFile(candidate, "wbx")) {
            std::fclose(file);
            temporaryPath_ = candidate;
            pending_ = true;
            return true;
        }
        lastError = errno;
        if (lastError != EEXIST)
            break;
    }
    error = describeFileError(lastError, target_);
    return false;
}

bool FileReplacement::commit(std::string& error) {
    if (!pending_) {
        error = "There is no finished file to save as \"" + target_ + "\".";
        return false;
    }
    // The target may have been protected while the new file was written.
    if (std::string protection = protectionOf(target_); !protection.empty()) {
        error = std::move(protection);
        discard();
        return false;
    }
    std::error_code ec;
    // Keep the permissions of the file being replaced.
    const fs::path target = platform::pathFromUtf8(target_);
    const fs::path temporary = platform::pathFromUtf8(temporaryPath_);
    const fs::file_status old = fs::status(target, ec);
    if (!ec && fs::is_regular_file(old))
        fs::permissions(temporary, old.permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) {
        error = describeFileError(ec.value(), target_);
        discard();
        return false;
    }
    pending_ = false;
    return true;
}

void FileReplacement::discard() {
    if (!pending_)
        return;
    std::error_code ec;
    fs::remove(platform::pathFromUtf8(temporaryPath_), ec);
    pending_ = false;
}

bool closeWritten(std::FILE* file, const std::string& path, std::string& error) {
    int failure = 0;
    errno = 0;
    if (std::fflush(file) != 0 || std::ferror(file))
        failure = errno ? errno : EIO;
    errno = 0;
    if (std::fclose(file) != 0 && failure == 0)
        failure = errno ? errno : EIO;
    if (failure == 0)
        return true;
    error = describeFileError(failure, path);
    return false;
}

} // namespace corvanta
