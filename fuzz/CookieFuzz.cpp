// Cookie collection and merging: the merge replaces the sent text, merging the same
// received cookies again changes nothing (for texts whose ";" all separate parts), and
// trimming is idempotent.
#include "FuzzCheck.h"
#include "web/CookieText.h"

#include <fuzzer/FuzzedDataProvider.h>
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
    // Merging the result again changes nothing, for texts whose parts hold no ";" of their
    // own (one without its blank): such a part may split differently when read again.
    auto plainSemicolons = [](const std::string& text) {
        for (std::size_t at = text.find(';'); at != std::string::npos; at = text.find(';', at + 1))
            if (at + 1 < text.size() && text[at + 1] != ' ')
                return false;
        return true;
    };
    const bool plain = plainSemicolons(sent) && plainSemicolons(received) && !sent.ends_with(";") &&
                       !received.ends_with(";");
    // No part the merge keeps is a deleted one.
    for (const std::string& part : corvanta::splitCookieText(merged))
        FUZZ_CHECK(!plain || !part.ends_with("=deleted"));
    if (plain) {
        std::string again = merged;
        FUZZ_CHECK(corvanta::mergeCookieText(again, received) == merged);
    }
    return 0;
}
