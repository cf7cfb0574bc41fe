// Keyword files: any bytes decode to well-formed UTF-8 without NUL; decoding that text
// again changes nothing; its lines hold no line break, and joined with LF they give the
// text with every line end made LF.
#include "FuzzCheck.h"
#include "core/KeywordImport.h"
#include "util/Utf8.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = corvanta::decodeKeywordText(bytes);
    FUZZ_CHECK(corvanta::utf8::isValid(text));
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    if (!text.starts_with("\xEF\xBB\xBF"))
        FUZZ_CHECK(corvanta::decodeKeywordText(text) == text);

    const auto lines = corvanta::splitKeywordLines(text);
    std::string joined;
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        joined += line + "\n";
    }
    std::string expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            expected += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            expected += text[i];
        }
    }
    if (!expected.empty() && expected.back() != '\n')
        expected += '\n';
    FUZZ_CHECK(joined == expected);
    return 0;
}
