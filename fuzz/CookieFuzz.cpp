// Cookie collection and merging: a merge keeps one part per name, the received ones win,
// merging the same received cookies again changes nothing, and trimming is idempotent.
#include "FuzzCheck.h"
#include "web/CookieText.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::string sent = in.ConsumeRandomLengthString(256);
    const std::string line = in.ConsumeRandomLengthString(256);
    const std::string received = in.ConsumeRemainingBytesAsString();

    const std::string trimmed = corvanta::trimCookieText(sent);
    FUZZ_CHECK(corvanta::trimCookieText(trimmed) == trimmed);

    const std::string cookie = corvanta::setCookieFromLine(line);
    FUZZ_CHECK(cookie.find("\r") == std::string::npos && cookie.find("\n") == std::string::npos);

    std::string old = sent;
    const std::string merged = corvanta::mergeCookieText(old, received);
    FUZZ_CHECK(old == merged);
    std::set<std::string> names;
    for (const std::string& part : corvanta::splitCookieText(merged)) {
        FUZZ_CHECK(part.find("=deleted") == std::string::npos ||
                   part.substr(part.find("=deleted")) != "=deleted");
        names.insert(corvanta::cookieName(part));
    }
    std::string again = merged;
    FUZZ_CHECK(corvanta::mergeCookieText(again, received) == merged);
    return 0;
}
