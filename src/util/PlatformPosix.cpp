#include "util/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <time.h>

namespace corvanta::platform {

namespace {

class IconvHandle {
public:
    IconvHandle(const std::string& from, const std::string& to)
        : handle_(iconv_open(to.c_str(), from.c_str())) {}
    ~IconvHandle() {
        if (valid())
            iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

private:
    iconv_t handle_;
};

} // namespace

std::optional<std::string> convertCharset(std::string_view input, const std::string& from,
                                          const std::string& to) {
    IconvHandle cd(from, to);
    if (!cd.valid())
        return std::nullopt;
    std::string out;
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t used = 0;
    while (true) {
        char* dst = out.data() + used;
        size_t outLeft = out.size() - used;
        size_t rc = inLeft ? iconv(cd.get(), &in, &inLeft, &dst, &outLeft)
                           : iconv(cd.get(), nullptr, nullptr, &dst, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<size_t>(-1)) {
            if (inLeft == 0 && in != nullptr) {
                in = nullptr; // flush any shift state once
                continue;
            }
            break;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        return std::nullopt; // EILSEQ or EINVAL: not valid in `from`
    }
    out.resize(used);
    return out;
}

bool isKnownCharset(const std::string& name) {
    return IconvHandle(name, "UTF-8").valid();
}

std::uint32_t tickCount() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

bool uses12HourClock() {
    locale_t loc = newlocale(LC_TIME_MASK, "", nullptr);
    if (loc == nullptr)
        loc = newlocale(LC_TIME_MASK, "C", nullptr);
    if (loc == nullptr)
        return false;
    const std::string format = nl_langinfo_l(T_FMT, loc);
    freelocale(loc);
    return format.find("%I") != std::string::npos || format.find("%r") != std::string::npos ||
           format.find("%l") != std::string::npos;
}

std::tm localTimeNow() {
    const time_t now = time(nullptr);
    std::tm result{};
    localtime_r(&now, &result);
    return result;
}

std::string desktopFolder() {
    namespace fs = std::filesystem;
    const char* home = std::getenv("HOME");
    const fs::path base = home && *home ? fs::path(home) : fs::current_path();
    std::error_code ec;
    if (fs::is_directory(base / "Desktop", ec))
        return (base / "Desktop").string();
    return base.string();
}

} // namespace corvanta::platform
