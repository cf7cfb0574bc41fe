#include "util/RegexMatcher.h"

#include "util/Utf8.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <climits>
#include <cstdint>
#include <memory>
#include <pcre2.h>
#include <utility>

namespace corvanta {

namespace {

constexpr std::string_view kQuoteToken = "#引号";

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string result;
    std::size_t pos = 0;
    while (true) {
        const std::size_t found = text.find(from, pos);
        if (found == std::string_view::npos)
            break;
        result.append(text.substr(pos, found - pos));
        result.append(to);
        pos = found + from.size();
    }
    result.append(text.substr(pos));
    return result;
}

int clampToInt(std::size_t value) {
    return value > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

} // namespace

RegexMatcher::~RegexMatcher() = default;

bool RegexMatcher::execute(std::string_view pattern, std::string_view subject, bool caseSensitive,
                           bool multiline, bool global, bool quoteToken) {
    executed_ = false;
    groupCount_ = 0;
    offsets_.clear();
    firstIndexes_.clear();
    pattern_ = quoteToken ? replaceAll(pattern, kQuoteToken, "\"") : std::string(pattern);
    subject_.assign(subject);

    // UTF mode that tolerates invalid subjects; no UCP, so \w \d \s \b stay ASCII as in
    // VBScript. ALT_BSUX gives \uhhhh, DOLLAR_ENDONLY keeps a non-multiline $ at the very
    // end and MATCH_UNSET_BACKREF lets \1 of an unset group match the empty string, all
    // three as a JScript-family engine does.
    //
    // The subject is checked once here. A well-formed one is matched without the library's
    // own check, which it would otherwise repeat over the rest of the subject on every call
    // and so make global matching quadratic; only a subject with invalid bytes needs the
    // mode that tolerates them.
    const bool validSubject = utf8::isValid(subject_);
    std::uint32_t options = PCRE2_UTF | PCRE2_DOTALL | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY |
                            PCRE2_MATCH_UNSET_BACKREF;
    if (!validSubject)
        options |= PCRE2_MATCH_INVALID_UTF;
    if (!caseSensitive)
        options |= PCRE2_CASELESS;
    if (multiline)
        options |= PCRE2_MULTILINE;

    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context)
        return false;
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);

    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    std::unique_ptr<pcre2_code, CodeDeleter> code(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(), options,
                      &errorCode, &errorOffset, context.get()));
    if (!code)
        return false;
    // The compiled form, where the platform has one, matches in linear time over invalid
    // bytes too; without it the interpreter gives the same results.
    const bool compiled = pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE) == 0;
    const std::uint32_t matchOptions = validSubject ? PCRE2_NO_UTF_CHECK : 0;
    std::uint32_t captures = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create_from_pattern(code.get(), nullptr));
    if (!data)
        return false;

    const auto* subjectData = reinterpret_cast<PCRE2_SPTR>(subject_.data());
    const std::size_t length = subject_.size();
    const std::size_t pairs = static_cast<std::size_t>(captures) + 1;
    std::vector<std::size_t> offsets;
    std::vector<int> firstIndexes;
    // The subject's first countedBytes bytes take countedUnits UTF-16 units.
    std::size_t countedBytes = 0;
    std::size_t countedUnits = 0;
    std::size_t offset = 0;
    while (offset <= length) {
        const int rc = compiled ? pcre2_jit_match(code.get(), subjectData, length, offset, 0,
                                                  data.get(), nullptr)
                                : pcre2_match(code.get(), subjectData, length, offset, matchOptions,
                                              data.get(), nullptr);
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0)
            return false; // match limit, depth limit or memory: report failure, keep nothing
        const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data.get());
        const std::size_t start = vector[0];
        const std::size_t end = vector[1];
        if (start > end || start < countedBytes)
            return false; // only possible with \K tricks; refuse rather than misreport
        for (std::size_t i = 0; i < 2 * pairs; ++i)
            offsets.push_back(vector[i]);
        countedUnits += utf8::utf16Length(
            std::string_view(subject_).substr(countedBytes, start - countedBytes));
        countedBytes = start;
        firstIndexes.push_back(clampToInt(countedUnits));
        if (!global)
            break;
        // After an empty match the next search starts one character further on, as a
        // JScript-family engine does; otherwise it starts where the match ended.
        offset = end > start ? end : utf8::nextCharacter(subject_, end);
    }

    groupCount_ = captures;
    offsets_ = std::move(offsets);
    firstIndexes_ = std::move(firstIndexes);
    executed_ = true;
    return true;
}

std::string RegexMatcher::getPattern() const {
    return pattern_;
}

std::string RegexMatcher::replace(std::string_view replacement) const {
    if (!executed_)
        return {};
    const std::string_view subject = subject_;
    const std::size_t stride = 2 * (groupCount_ + 1);
    const auto group = [&](const std::size_t* match, std::size_t g) -> std::string_view {
        const std::size_t begin = match[2 * g];
        const std::size_t end = match[2 * g + 1];
        if (begin == PCRE2_UNSET || end == PCRE2_UNSET)
            return {};
        return subject.substr(begin, end - begin);
    };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };

    std::string result;
    std::size_t copied = 0;
    for (std::size_t k = 0; k < firstIndexes_.size(); ++k) {
        const std::size_t* match = offsets_.data() + k * stride;
        result.append(subject.substr(copied, match[0] - copied));
        for (std::size_t i = 0; i < replacement.size(); ++i) {
            const char c = replacement[i];
            if (c != '$' || i + 1 >= replacement.size()) {
                result.push_back(c);
                continue;
            }
            const char next = replacement[i + 1];
            if (next == '$') {
                result.push_back('$');
                ++i;
            } else if (next == '&') {
                result.append(group(match, 0));
                ++i;
            } else if (next == '`') {
                result.append(subject.substr(0, match[0]));
                ++i;
            } else if (next == '\'') {
                result.append(subject.substr(match[1]));
                ++i;
            } else if (isDigit(next)) {
                // A two-digit number is taken when such a group exists, else one digit;
                // $0 and numbers beyond the groups stay as written.
                const std::size_t one = static_cast<std::size_t>(next - '0');
                std::size_t two = 0;
                const bool hasTwo = i + 2 < replacement.size() && isDigit(replacement[i + 2]);
                if (hasTwo)
                    two = one * 10 + static_cast<std::size_t>(replacement[i + 2] - '0');
                if (hasTwo && two >= 1 && two <= groupCount_) {
                    result.append(group(match, two));
                    i += 2;
                } else if (one >= 1 && one <= groupCount_) {
                    result.append(group(match, one));
                    i += 1;
                } else {
                    result.push_back('$');
                }
            } else {
                result.push_back('$');
            }
        }
        copied = match[1];
    }
    result.append(subject.substr(copied));
    return result;
}

int RegexMatcher::matchCount() const {
    return clampToInt(firstIndexes_.size());
}

const std::size_t* RegexMatcher::matchOffsets(int n) const {
    if (n < 1 || static_cast<std::size_t>(n) > firstIndexes_.size())
        return nullptr;
    return offsets_.data() + (static_cast<std::size_t>(n) - 1) * 2 * (groupCount_ + 1);
}

std::string RegexMatcher::matchText(int n, int* bytePosition) const {
    return groupText(n, 0, bytePosition);
}

std::string RegexMatcher::submatchText(int n, int m, int* bytePosition) const {
    if (m < 1) {
        if (bytePosition != nullptr)
            *bytePosition = -2;
        return {};
    }
    return groupText(n, static_cast<std::size_t>(m), bytePosition);
}

std::string RegexMatcher::groupText(int n, std::size_t group, int* bytePosition) const {
    if (bytePosition != nullptr)
        *bytePosition = -2;
    const std::size_t* match = matchOffsets(n);
    if (match == nullptr || group > groupCount_)
        return {};
    const std::size_t begin = match[2 * group];
    const std::size_t end = match[2 * group + 1];
    if (begin == PCRE2_UNSET || end == PCRE2_UNSET || begin > end)
        return {};
    if (bytePosition != nullptr)
        *bytePosition = clampToInt(begin);
    return subject_.substr(begin, end - begin);
}

int RegexMatcher::submatchCount() const {
    return firstIndexes_.empty() ? 0 : clampToInt(groupCount_);
}

int RegexMatcher::firstIndex(int n) const {
    if (n < 1 || static_cast<std::size_t>(n) > firstIndexes_.size())
        return -1;
    return firstIndexes_[static_cast<std::size_t>(n) - 1];
}

} // namespace corvanta
