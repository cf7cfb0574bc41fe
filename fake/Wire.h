#pragma once

#include "FakeIndexService.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct ssl_st SSL;

namespace corvanta::fake {

// Owns a socket descriptor: closes it when destroyed or reset.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1);

private:
    int fd_;
};

// A connected socket, optionally wrapped in TLS; does not own the descriptor (the service
// keeps every connection's descriptor in its set of live sockets and closes it there).
class WireStream {
public:
    WireStream(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    // Bytes read (> 0), 0 at end of stream, < 0 on error or time-out.
    long readSome(char* buffer, std::size_t size);
    bool writeAll(std::string_view data);
    int fd() const { return fd_; }

private:
    int fd_;
    SSL* ssl_;
};

enum class ReadStatus { Ok, Closed, Malformed, TooLarge };

inline constexpr std::size_t kMaxHeadBytes = 1024 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 256ull * 1024 * 1024;

// Reads one request. pending holds bytes received beyond the previous request and keeps
// those beyond this one. onExpectContinue runs when the client waits for "100 Continue".
ReadStatus readRequest(WireStream& stream, std::string& pending, RecordedRequest& out,
                       const std::function<void()>& onExpectContinue);

bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool containsIgnoreCase(std::string_view text, std::string_view sought);
// Value of the first header line named name (any case), without surrounding blanks.
std::optional<std::string> headerValue(const std::vector<std::string>& lines,
                                       std::string_view name);

// A blocking TCP connection to 127.0.0.1:port, or -1.
int connectLoopback(int port, int timeoutMs);
// Closes fd so that the peer sees a reset.
void closeWithReset(int fd);
void setSocketTimeouts(int fd, int timeoutMs);

} // namespace corvanta::fake
