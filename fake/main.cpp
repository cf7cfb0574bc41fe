// corvanta-fake-index: serves the fake index service on 127.0.0.1 until SIGINT or SIGTERM.
#include "FakeIndexService.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <set>
#include <string>

using corvanta::fake::FakeIndexService;
using corvanta::fake::Fault;
using corvanta::fake::FaultConfig;
using corvanta::fake::Series;

namespace {

const std::map<std::string, Fault> kFaults = {
    {"none", Fault::None},
    {"stall-before-headers", Fault::StallBeforeHeaders},
    {"stall-mid-body", Fault::StallMidBody},
    {"reset", Fault::ResetConnection},
    {"server-error", Fault::ServerError},
    {"malformed-json", Fault::MalformedJson},
    {"truncated-json", Fault::TruncatedJson},
    {"missing-series", Fault::MissingSeries},
    {"oversized-body", Fault::OversizedBody},
    {"redirect", Fault::Redirect},
    {"set-cookies", Fault::SetCookies},
    {"meta-charset-page", Fault::MetaCharsetPage},
    {"rate-limited", Fault::RateLimited},
    {"unknown-keyword", Fault::UnknownKeyword},
    {"mixed", Fault::Mixed},
};

void usage() {
    std::cout << "usage: corvanta-fake-index [options]\n"
                 "  --port N              port on 127.0.0.1 (default 8765, 0 for any)\n"
                 "  --tls                 serve HTTPS with a fresh self-signed certificate\n"
                 "  --latency-ms N        wait N ms before every answer\n"
                 "  --rtt-ms N            act as a service N ms of round trip away: hold every\n"
                 "                        chunk N/2 ms each way, connection set-up included\n"
                 "  --accept-cookie TEXT  cookie text required (default BDUSS=corvanta-demo;\n"
                 "                        empty accepts every request)\n"
                 "  --unknown WORD        answer status 10002 for WORD (repeatable)\n"
                 "  --fault NAME          (mixed: a fault for about half of the keywords,\n"
                 "                        chosen by the keyword) one of:";
    for (const auto& [name, fault] : kFaults)
        std::cout << ' ' << name;
    std::cout << "\n"
                 "  --stall-ms N          length of a stall (0: until stopped)\n"
                 "  --status N            status of server-error (500 or 503)\n"
                 "  --missing all|pc|wise series left out by missing-series\n"
                 "  --oversized-bytes N   body size of oversized-body\n"
                 "  --oversized-chunked   send oversized-body chunked, without its length\n"
                 "  --redirect-hops N     redirects before the answer\n"
                 "  --charset NAME        charset of meta-charset-page (default gb2312)\n"
                 "  --server-auth U:P     require basic credentials at the service\n"
                 "  --proxy-auth U:P      require basic credentials at the proxy\n"
                 "  --rate-limit N        more than N index requests a second from one cookie\n"
                 "                        get status 10001 (request block)\n"
                 "  --expire TEXT:M       a cookie holding TEXT is logged out (status 10000)\n"
                 "                        after M index requests (repeatable)\n"
                 "  --transient SHARE     that share (0-1) of the keywords gets a 503 page on\n"
                 "                        its first request\n"
                 "  --quiet               do not print the requests\n";
}

bool parseInt(const char* text, long long& out) {
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return *text != '\0' && *end == '\0';
}

} // namespace

int main(int argc, char** argv) {
    FakeIndexService::Options options;
    options.port = 8765;
    FaultConfig fault;
    std::set<std::string> unknown;
    std::string serverAuth, proxyAuth;
    bool quiet = false;
    corvanta::fake::AccountRules accounts;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "missing value for " << arg << "\n";
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](long long low, long long high) {
            long long n = 0;
            const char* text = value();
            if (!parseInt(text, n) || n < low || n > high) {
                std::cerr << "bad value for " << arg << ": " << text << "\n";
                std::exit(2);
            }
            return n;
        };
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (arg == "--port") {
            options.port = static_cast<int>(number(0, 65535));
        } else if (arg == "--tls") {
            options.tls = true;
        } else if (arg == "--latency-ms") {
            options.latencyMs = static_cast<int>(number(0, 3600000));
        } else if (arg == "--rtt-ms") {
            options.rttMs = static_cast<int>(number(0, 60000));
        } else if (arg == "--accept-cookie") {
            options.acceptedCookie = value();
        } else if (arg == "--unknown") {
            unknown.insert(value());
        } else if (arg == "--fault") {
            const std::string name = value();
            const auto it = kFaults.find(name);
            if (it == kFaults.end()) {
                std::cerr << "unknown fault: " << name << "\n";
                return 2;
            }
            fault.fault = it->second;
        } else if (arg == "--stall-ms") {
            fault.stallMs = static_cast<int>(number(0, 3600000));
        } else if (arg == "--status") {
            fault.serverErrorStatus = static_cast<int>(number(500, 599));
        } else if (arg == "--missing") {
            const std::string s = value();
            if (s != "all" && s != "pc" && s != "wise") {
                std::cerr << "--missing takes all, pc or wise\n";
                return 2;
            }
            fault.missingSeries = s == "all" ? Series::All : s == "pc" ? Series::Pc : Series::Wise;
        } else if (arg == "--oversized-bytes") {
            fault.oversizedBytes = static_cast<std::size_t>(number(0, 4LL << 30));
        } else if (arg == "--oversized-chunked") {
            fault.oversizedChunked = true;
        } else if (arg == "--redirect-hops") {
            fault.redirectHops = static_cast<int>(number(0, 100));
        } else if (arg == "--charset") {
            fault.pageCharset = value();
        } else if (arg == "--server-auth") {
            serverAuth = value();
        } else if (arg == "--proxy-auth") {
            proxyAuth = value();
        } else if (arg == "--rate-limit") {
            accounts.requestsPerSecond = static_cast<int>(number(0, 1000000));
        } else if (arg == "--expire") {
            const std::string rule = value();
            const auto colon = rule.rfind(':');
            long long after = 0;
            if (colon == std::string::npos || colon == 0 ||
                !parseInt(rule.substr(colon + 1).c_str(), after) || after < 1) {
                std::cerr << "--expire takes COOKIE-TEXT:REQUESTS\n";
                return 2;
            }
            accounts.expireAfter[rule.substr(0, colon)] = static_cast<int>(after);
        } else if (arg == "--transient") {
            char* end = nullptr;
            const char* text = value();
            accounts.transientShare = std::strtod(text, &end);
            if (*end != '\0' || accounts.transientShare < 0 || accounts.transientShare > 1) {
                std::cerr << "--transient takes a share from 0 to 1\n";
                return 2;
            }
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::cerr << "unknown option: " << arg << " (see --help)\n";
            return 2;
        }
    }

    // Threads started from here on inherit the blocked signals; the main thread takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    FakeIndexService service(options);
    service.setFault(fault);
    service.setUnknownKeywords(unknown);
    service.setAccountRules(accounts);
    auto split = [](const std::string& pair) {
        const auto colon = pair.find(':');
        return std::make_pair(pair.substr(0, colon),
                              colon == std::string::npos ? "" : pair.substr(colon + 1));
    };
    if (!serverAuth.empty()) {
        auto [user, password] = split(serverAuth);
        service.setServerCredentials(user, password);
    }
    if (!proxyAuth.empty()) {
        auto [user, password] = split(proxyAuth);
        service.setProxyCredentials(user, password);
    }
    if (!service.start()) {
        std::cerr << "corvanta-fake-index: " << service.lastError() << "\n";
        return 1;
    }
    std::cout << service.baseUrl() << std::endl;
    if (options.tls)
        std::cout << service.certificatePem() << std::flush;

    for (;;) {
        timespec slice{0, 200 * 1000 * 1000};
        const int sig = sigtimedwait(&signals, nullptr, &slice);
        if (!quiet) {
            for (const auto& req : service.requests())
                std::cout << "[" << req.connection << "] " << req.requestLine << std::endl;
        }
        service.clearRequests();
        if (sig == SIGINT || sig == SIGTERM)
            break;
    }
    service.stop();
    // What the account rules did, for the scripts that drive the service.
    std::cerr << "account rules: " << service.blockedAnswers() << " blocked (10001), "
              << service.expiredAnswers() << " expired (10000), " << service.transientAnswers()
              << " transient (503)" << std::endl;
    return 0;
}
