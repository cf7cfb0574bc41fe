#pragma once

// Every call that is not portable C++ lives behind these functions: PlatformPosix.cpp
// and PlatformWindows.cpp implement them, and CMake builds the one for the platform.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvanta::platform {

// The legacy code page's charset name: GB18030, which writes GBK bytes for every GBK
// character and still encodes everything else.
inline constexpr const char* legacyCharset = "GB18030";

// Converts bytes from one charset to another by name ("UTF-8", "UTF-16LE", "GB18030",
// "CP1252", ...). Nothing when a name is unknown or the input is not valid in `from`.
std::optional<std::string> convertCharset(std::string_view input, const std::string& from,
                                          const std::string& to);

// True when convertCharset knows the charset name.
bool isKnownCharset(const std::string& name);

// Converts like convertCharset but goes on past bad input: every sequence that is not
// valid in `from`, or that `to` cannot write, becomes `replacement` (bytes in `to`) and
// conversion resumes `skip(rest)` bytes further on, `rest` being the input not converted
// yet (at least one byte is skipped). An incomplete sequence at the very end becomes one
// `replacement`. Nothing only when a charset name is unknown.
std::optional<std::string>
convertCharsetLenient(std::string_view input, const std::string& from, const std::string& to,
                      std::string_view replacement,
                      const std::function<std::size_t(std::string_view rest)>& skip);

// Milliseconds since the machine started, as a 32-bit count that wraps after ~49.7 days.
std::uint32_t tickCount();

// The user's clock setting: true for a 12-hour clock (the locale's time format shows
// %I or %r; on Windows the locale's LOCALE_ITIME is 0), false for a 24-hour one.
bool uses12HourClock();

// Local calendar time now.
std::tm localTimeNow();

// The user's desktop folder, without a trailing separator; the home folder when the
// desktop does not exist.
std::string desktopFolder();

// False when the current user may not write the existing file `path` (its permissions or a
// read-only drive forbid it); true otherwise, also when there is no such file.
bool userMayWrite(const std::string& path);

// File names are UTF-8 text everywhere in the program. These give the system's own form of
// such a name: std::filesystem and std::fopen take a std::string in the system's legacy
// code page on Windows, not in UTF-8.
inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string utf8FromPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

// std::fopen for a file named in UTF-8. `mode` is std::fopen's, "x" (create, fail when the
// file exists) included; errno tells why when nothing is opened.
std::FILE* openFile(const std::string& path, const char* mode);

// Runs `body` on a new detached thread. `stackSize` 0 takes the system's default stack;
// any other size is a minimum, raised to what the system and the build need to run.
// False, and `body` not run, when no thread could be started.
bool startThread(std::function<void()> body, std::size_t stackSize);

// Lowers the calling thread's scheduling priority a step below normal, so that background
// work (requests, their parsing) always leaves the window's thread room to run.
void lowerCurrentThreadPriority();

// The standard streams a console program writes to.
enum class StandardStream { Output, Error };

// True when the stream is a terminal (a console on Windows), false for a file or a pipe.
bool isTerminal(StandardStream stream);

// Takes over the interrupt keys of a console program: Ctrl-C (SIGINT) and a termination
// request (SIGTERM; Ctrl-Break and closing the console on Windows). The first one only sets
// the flag that interruptRequested() reads, so that the program can end its work in order;
// the next one ends the process at once with exit code 130. Call once, from the main
// thread, before the work starts.
void installInterruptHandler();

// True once an interrupt has arrived since installInterruptHandler().
bool interruptRequested();

} // namespace corvanta::platform
