// findText and textBetween: what they find is really there, where they say, and never
// before the start asked for.
#include "FuzzCheck.h"
#include "query/QueryText.h"
#include "util/TextSearch.h"
#include "util/Utf8.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace {

bool asciiEqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool ignoreCase = in.ConsumeBool();
    const int start = in.ConsumeIntegralInRange<int>(-2, 64);
    const std::string sought = in.ConsumeRandomLengthString(16);
    const std::string right = in.ConsumeRandomLengthString(16);
    const std::string text = in.ConsumeRemainingBytesAsString();

    const int found = corvanta::findText(text, sought, start, ignoreCase);
    FUZZ_CHECK(found == -1 || found >= 1);
    if (found > 0) {
        const auto at = static_cast<std::size_t>(found - 1);
        FUZZ_CHECK(found >= start);
        FUZZ_CHECK(at + sought.size() <= text.size());
        const std::string_view there = std::string_view(text).substr(at, sought.size());
        FUZZ_CHECK(ignoreCase ? asciiEqualIgnoringCase(there, sought) : there == sought);
        // No match of the exact bytes starts before the one found (a raw match at a place
        // that is not a character boundary may; one at a boundary may not).
        if (!ignoreCase) {
            const std::size_t first =
                text.find(sought, static_cast<std::size_t>(std::max(start, 1) - 1));
            FUZZ_CHECK(first != std::string::npos && first <= at);
        }
    } else if (!ignoreCase && !sought.empty() && start <= 1 && text.find(sought) == 0 &&
               corvanta::utf8::isBoundary(text, sought.size())) {
        // A match at the very start that ends at a character boundary must be found.
        FUZZ_CHECK(false);
    }

    const std::string between = corvanta::textBetween(text, sought, right, start, ignoreCase);
    FUZZ_CHECK(between.size() <= text.size());
    const bool quoteToken = sought.find("#\xE5\xBC\x95\xE5\x8F\xB7") != std::string::npos ||
                            right.find("#\xE5\xBC\x95\xE5\x8F\xB7") != std::string::npos;
    if (!between.empty() && !ignoreCase && !quoteToken)
        FUZZ_CHECK(text.find(sought + between + right) != std::string::npos);
    return 0;
}
