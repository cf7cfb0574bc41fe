// RegexMatcher: every kept match is the subject's text at the position reported, its
// groups lie inside it, and replacing every match by itself gives the subject back.
#include "FuzzCheck.h"
#include "util/RegexMatcher.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool caseSensitive = in.ConsumeBool();
    const bool multiline = in.ConsumeBool();
    const bool global = in.ConsumeBool();
    const bool quoteToken = in.ConsumeBool();
    const std::string pattern = in.ConsumeRandomLengthString(64);
    const std::string subject = in.ConsumeRandomLengthString(4096);

    corvanta::RegexMatcher matcher;
    if (!matcher.execute(pattern, subject, caseSensitive, multiline, global, quoteToken)) {
        FUZZ_CHECK(matcher.matchCount() == 0);
        return 0;
    }
    const int count = matcher.matchCount();
    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(global || count <= 1);
    int previousEnd = 0;
    for (int n = 1; n <= count; ++n) {
        int position = -3;
        const std::string text = matcher.matchText(n, &position);
        FUZZ_CHECK(position >= previousEnd);
        FUZZ_CHECK(static_cast<std::size_t>(position) + text.size() <= subject.size());
        FUZZ_CHECK(subject.compare(static_cast<std::size_t>(position), text.size(), text) == 0);
        FUZZ_CHECK(matcher.firstIndex(n) >= 0 && matcher.firstIndex(n) <= position);
        for (int m = 1; m <= matcher.submatchCount(); ++m) {
            int groupPosition = -3;
            const std::string group = matcher.submatchText(n, m, &groupPosition);
            if (groupPosition == -2)
                continue;
            FUZZ_CHECK(groupPosition >= 0);
            FUZZ_CHECK(static_cast<std::size_t>(groupPosition) + group.size() <= subject.size());
            FUZZ_CHECK(
                subject.compare(static_cast<std::size_t>(groupPosition), group.size(), group) == 0);
        }
        previousEnd = position + static_cast<int>(text.size());
    }
    int none = 0;
    FUZZ_CHECK(matcher.matchText(count + 1, &none).empty() && none == -2);
    FUZZ_CHECK(matcher.replace("$&") == subject);
    return 0;
}
