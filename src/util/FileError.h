#pragma once

#include <string>

namespace corvanta {

// A sentence for a failed file operation on `path`, from the errno value it failed with:
// missing folder, no permission, disk full and so on.
std::string describeFileError(int errorNumber, const std::string& path);

} // namespace corvanta
