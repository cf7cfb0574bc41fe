#pragma once

#include "util/FileError.h"

#include <cstdio>
#include <string>

namespace corvanta {

// A new file written under a temporary name in the target's folder and renamed over the
// target only when complete, so a failed export leaves an existing file untouched and no
// stray file behind.
class FileReplacement {
public:
    explicit FileReplacement(std::string target);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Creates the temporary file (empty). False, with a readable reason, when the folder
    // is missing or not writable.
    bool create(std::string& error);
    // The temporary file's path, valid after create().
    const std::string& temporaryPath() const { return temporaryPath_; }
    // Moves the finished temporary file over the target; on failure it is removed.
    bool commit(std::string& error);
    // Removes the temporary file (also done by the destructor unless committed).
    void discard();

private:
    std::string target_;
    std::string temporaryPath_;
    bool pending_ = false;
};

// Closes a stream that was written to; false with a readable reason when an earlier write
// or the close itself failed (the stream is closed either way).
bool closeWritten(std::FILE* file, const std::string& path, std::string& error);

} // namespace corvanta
