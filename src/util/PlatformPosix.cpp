#include "util/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <memory>
#include <new>
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

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

namespace {

// One iconv loop for both conversions: without a replacement policy (strict) invalid or
// unwritable input fails the conversion; with one it is replaced and skipped.
struct Lenience {
    std::string_view replacement;
    const std::function<std::size_t(std::string_view rest)>* skip;
};

// Whether `rest` (shorter than a whole character) could be the start of one character in
// the charset: for GB18030 by its byte ranges (lead 81-FE; a digit then a lead begin a
// four-byte form), for other charsets when no byte after the first is ASCII.
bool startsOneCharacter(const std::string& charset, std::string_view rest) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    std::string name = charset;
    for (char& c : name)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (name == "GB18030") {
        if (rest.empty() || byte(0) < 0x81 || byte(0) > 0xFE)
            return false;
        if (rest.size() >= 2 && (byte(1) < 0x30 || byte(1) > 0x39))
            return false;
        return rest.size() < 3 || (byte(2) >= 0x81 && byte(2) <= 0xFE);
    }
    return std::all_of(rest.begin() + (rest.empty() ? 0 : 1), rest.end(),
                       [](char c) { return (c & 0x80) != 0; });
}

std::optional<std::string> convert(std::string_view input, const std::string& from,
                                   const std::string& to, const Lenience* lenience) {
    IconvHandle cd(from, to);
    if (!cd.valid())
        return std::nullopt;
    std::string out;
    out.resize(input.size() * 2 + (lenience ? lenience->replacement.size() : 0) + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t used = 0;
    const auto append = [&](std::string_view bytes) {
        if (out.size() - used < bytes.size())
            out.resize(std::max(out.size() * 2, used + bytes.size()));
        bytes.copy(out.data() + used, bytes.size());
        used += bytes.size();
    };
    while (true) {
        char* dst = out.data() + used;
        size_t outLeft = out.size() - used;
        size_t rc = inLeft ? iconv(cd.get(), &in, &inLeft, &dst, &outLeft)
                           : iconv(cd.get(), nullptr, nullptr, &dst, &outLeft);
        const int error = errno;
        used = out.size() - outLeft;
        if (rc != static_cast<size_t>(-1)) {
            if (inLeft == 0 && in != nullptr) {
                in = nullptr; // flush any shift state once
                continue;
            }
            break;
        }
        if (error == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (lenience == nullptr)
            return std::nullopt; // EILSEQ or EINVAL: not valid in `from`
        append(lenience->replacement);
        // EINVAL: the input ends inside a sequence. When the bytes left could all be the
        // start of one character, it is one cut-short character: nothing more can follow.
        // Otherwise the converter only saw too few bytes to tell that the sequence was
        // broken (a four-byte GB18030 form cut short by "0h"): its lead is skipped like an
        // invalid byte, so that the characters after it are kept.
        if (error == EINVAL && startsOneCharacter(from, std::string_view(in, inLeft))) {
            inLeft = 0;
            continue;
        }
        const auto& skip = *lenience->skip;
        const size_t step = skip ? skip(std::string_view(in, inLeft)) : 1;
        const size_t skipped = std::min(std::max<size_t>(step, 1), inLeft);
        in += skipped;
        inLeft -= skipped;
    }
    out.resize(used);
    return out;
}

} // namespace

std::optional<std::string> convertCharset(std::string_view input, const std::string& from,
                                          const std::string& to) {
    return convert(input, from, to, nullptr);
}

std::optional<std::string>
convertCharsetLenient(std::string_view input, const std::string& from, const std::string& to,
                      std::string_view replacement,
                      const std::function<std::size_t(std::string_view rest)>& skip) {
    const Lenience lenience{replacement, &skip};
    return convert(input, from, to, &lenience);
}

bool isKnownCharset(const std::string& name) {
    return IconvHandle(name, "UTF-8").valid();
}

bool userMayWrite(const std::string& path) {
    if (access(path.c_str(), W_OK) == 0)
        return true;
    return !(errno == EACCES || errno == EPERM || errno == EROFS);
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

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
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

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANTA_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANTA_SANITIZED_BUILD 1
#endif
#endif

// Small stacks are fine for the pool's loops but not for the task code they call, and
// the sanitizers' runtimes need far more.
#ifdef CORVANTA_SANITIZED_BUILD
constexpr std::size_t leastThreadStack = std::size_t{1} << 20;
#else
constexpr std::size_t leastThreadStack = std::size_t{64} << 10;
#endif

void* threadEntry(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}

} // namespace

bool startThread(std::function<void()> body, std::size_t stackSize) {
    if (!body)
        return false;
    auto* heapBody = new (std::nothrow) std::function<void()>(std::move(body));
    if (heapBody == nullptr)
        return false;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete heapBody;
        return false;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize > 0) {
        const long page = sysconf(_SC_PAGESIZE);
        const std::size_t pageSize = page > 0 ? static_cast<std::size_t>(page) : 4096;
        std::size_t size =
            std::max({stackSize, leastThreadStack, static_cast<std::size_t>(PTHREAD_STACK_MIN)});
        size = (size + pageSize - 1) / pageSize * pageSize;
        pthread_attr_setstacksize(&attr, size); // on refusal the default stack stays
    }
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, threadEntry, heapBody);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete heapBody;
        return false;
    }
    return true;
}

void lowerCurrentThreadPriority() {
    // On Linux a thread's nice value is its own: raise it for this thread only.
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0 && now < 5)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
}

bool isTerminal(StandardStream stream) {
    return isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

namespace {

// Interrupts seen since the handler was installed; read and written in a signal handler,
// so it must be lock-free.
std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    if (interrupts.fetch_add(1) > 0)
        _exit(130); // the second interrupt: end at once
}

} // namespace

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interruptRequested() {
    return interrupts.load() > 0;
}

} // namespace corvanta::platform
