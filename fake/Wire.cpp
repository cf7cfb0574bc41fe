#include "Wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvanta::fake {

long WireStream::readSome(char* buffer, std::size_t size) {
    if (ssl_) {
        const int n =
            SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
        if (n > 0)
            return n;
        return SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<long>(n);
    }
}

bool WireStream::writeAll(std::string_view data) {
    while (!data.empty()) {
        const std::size_t piece = std::min<std::size_t>(data.size(), 1 << 20);
        long n;
        if (ssl_) {
            n = SSL_write(ssl_, data.data(), static_cast<int>(piece));
        } else {
            n = ::send(fd_, data.data(), piece, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
        }
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool containsIgnoreCase(std::string_view text, std::string_view sought) {
    if (sought.size() > text.size())
        return false;
    for (std::size_t i = 0; i + sought.size() <= text.size(); ++i) {
        if (equalsIgnoreCase(text.substr(i, sought.size()), sought))
            return true;
    }
    return false;
}

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<std::string> headerValue(const std::vector<std::string>& lines,
                                       std::string_view name) {
    for (const std::string& line : lines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        if (equalsIgnoreCase(trim(std::string_view(line).substr(0, colon)), name))
            return std::string(trim(std::string_view(line).substr(colon + 1)));
    }
    return std::nullopt;
}

namespace {

// Reads the request's body from pending (filling it from the stream as needed), starting at
// pos, and leaves pos just past the body.
class BodyReader {
public:
    BodyReader(WireStream& stream, std::string& pending) : stream_(stream), pending_(pending) {}

    bool need(std::size_t upto) {
        while (pending_.size() < upto) {
            if (!fill())
                return false;
        }
        return true;
    }

    // Position of the CR LF ending the line that starts at from, or npos.
    std::size_t lineEnd(std::size_t from) {
        for (;;) {
            const std::size_t p = pending_.find("\r\n", from);
            if (p != std::string::npos)
                return p;
            if (pending_.size() - from > 8192 || !fill())
                return std::string::npos;
        }
    }

    ReadStatus chunked(std::size_t& pos, std::string& body) {
        for (;;) {
            const std::size_t end = lineEnd(pos);
            if (end == std::string::npos)
                return ReadStatus::Malformed;
            std::string sizeText = pending_.substr(pos, end - pos);
            sizeText = sizeText.substr(0, sizeText.find(';'));
            char* stop = nullptr;
            errno = 0;
            const unsigned long long size = std::strtoull(sizeText.c_str(), &stop, 16);
            if (sizeText.empty() || errno != 0 || (*stop != '\0' && *stop != ' ' && *stop != '\t'))
                return ReadStatus::Malformed;
            pos = end + 2;
            if (size == 0) {
                for (;;) { // trailer lines up to an empty one
                    const std::size_t t = lineEnd(pos);
                    if (t == std::string::npos)
                        return ReadStatus::Malformed;
                    const bool empty = t == pos;
                    pos = t + 2;
                    if (empty)
                        return ReadStatus::Ok;
                }
            }
            if (size > kMaxBodyBytes || body.size() + size > kMaxBodyBytes)
                return ReadStatus::TooLarge;
            if (!need(pos + size + 2))
                return ReadStatus::Malformed;
            body.append(pending_, pos, size);
            if (pending_.compare(pos + size, 2, "\r\n") != 0)
                return ReadStatus::Malformed;
            pos += size + 2;
        }
    }

    bool fill() {
        char buf[16384];
        const long n = stream_.readSome(buf, sizeof buf);
        if (n <= 0)
            return false;
        pending_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

private:
    WireStream& stream_;
    std::string& pending_;
};

} // namespace

ReadStatus readRequest(WireStream& stream, std::string& pending, RecordedRequest& out,
                       const std::function<void()>& onExpectContinue) {
    BodyReader reader(stream, pending);
    // Empty lines before a request are tolerated.
    std::size_t headEnd;
    for (;;) {
        while (pending.starts_with("\r\n"))
            pending.erase(0, 2);
        headEnd = pending.find("\r\n\r\n");
        if (headEnd != std::string::npos)
            break;
        if (pending.size() > kMaxHeadBytes)
            return ReadStatus::TooLarge;
        if (!reader.fill())
            return pending.empty() ? ReadStatus::Closed : ReadStatus::Malformed;
    }

    out = RecordedRequest{};
    const std::string_view head(pending.data(), headEnd);
    std::size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        std::size_t e = head.find("\r\n", lineStart);
        if (e == std::string_view::npos)
            e = head.size();
        const std::string line(head.substr(lineStart, e - lineStart));
        if (first)
            out.requestLine = line;
        else
            out.headerLines.push_back(line);
        first = false;
        lineStart = e + 2;
    }
    const std::size_t sp1 = out.requestLine.find(' ');
    if (sp1 == std::string::npos || sp1 == 0)
        return ReadStatus::Malformed;
    const std::size_t sp2 = out.requestLine.find(' ', sp1 + 1);
    out.method = out.requestLine.substr(0, sp1);
    out.target = out.requestLine.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos
                                                                          : sp2 - sp1 - 1);

    std::size_t pos = headEnd + 4;
    const auto transfer = headerValue(out.headerLines, "Transfer-Encoding");
    const auto length = headerValue(out.headerLines, "Content-Length");
    const bool isChunked = transfer && containsIgnoreCase(*transfer, "chunked");
    unsigned long long contentLength = 0;
    if (!isChunked && length) {
        char* stop = nullptr;
        errno = 0;
        contentLength = std::strtoull(length->c_str(), &stop, 10);
        if (length->empty() || errno != 0 || *stop != '\0' || (*length)[0] == '-')
            return ReadStatus::Malformed;
        if (contentLength > kMaxBodyBytes)
            return ReadStatus::TooLarge;
    }
    const bool hasBody = isChunked || contentLength > 0;
    const auto expect = headerValue(out.headerLines, "Expect");
    if (hasBody && expect && equalsIgnoreCase(*expect, "100-continue") && pending.size() == pos &&
        onExpectContinue)
        onExpectContinue();

    if (isChunked) {
        const ReadStatus st = reader.chunked(pos, out.body);
        if (st != ReadStatus::Ok)
            return st;
    } else if (contentLength > 0) {
        if (!reader.need(pos + contentLength))
            return ReadStatus::Malformed;
        out.body = pending.substr(pos, contentLength);
        pos += contentLength;
    }
    out.raw = pending.substr(0, pos);
    pending.erase(0, pos);
    return ReadStatus::Ok;
}

int connectLoopback(int port, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    setSocketTimeouts(fd, timeoutMs);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void closeWithReset(int fd) {
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(fd);
}

void setSocketTimeouts(int fd, int timeoutMs) {
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

} // namespace corvanta::fake
