#pragma once

// A regular-expression matcher with the options and replacement rules of a VBScript-style
// RegExp object: one execute() runs a pattern over a subject and keeps the matches, which
// the other calls then read by 1-based number. Patterns and subjects are UTF-8; a subject
// may hold bytes that are not valid UTF-8 (such as a raw legacy-encoded response body):
// those bytes never match anything, and the rest of the subject still does.
//
// Creating a matcher is cheap: nothing is compiled before execute(). One matcher is meant
// for one thread; separate matchers may be used on separate threads at the same time.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvanta {

class RegexMatcher {
public:
    RegexMatcher() = default;
    ~RegexMatcher();
    RegexMatcher(const RegexMatcher&) = delete;
    RegexMatcher& operator=(const RegexMatcher&) = delete;

    // Runs `pattern` over `subject` and keeps the matches, replacing those of any earlier run.
    // Case is ignored unless `caseSensitive`; `multiline` lets ^ and $ match at line breaks;
    // a dot always matches line breaks too; without `global` only the first match is kept.
    // With `quoteToken` every "#引号" in the pattern stands for a double quote. \w, \d and \s
    // mean ASCII characters only. False when the pattern is invalid or matching fails (for
    // example on runaway backtracking); a run that finds nothing is still true.
    bool execute(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
                 bool multiline = true, bool global = true, bool quoteToken = false);

    // The pattern of the last execute(), after the "#引号" replacement; empty before one.
    std::string getPattern() const;

    // The subject of the last successful execute() with its kept matches replaced by
    // `replacement`, in which $1..$99 stand for a group, $& for the match, $` and $' for the
    // text before and after it and $$ for a dollar sign. Empty when there is no such run.
    std::string replace(std::string_view replacement) const;

    // The number of kept matches; 0 before a successful execute().
    int matchCount() const;

    // Match n (1-based); empty when there is no such match. `bytePosition` receives the
    // 0-based byte offset of the match in the subject, or -2 when there is no such match.
    std::string matchText(int n, int* bytePosition = nullptr) const;

    // Group m (1-based) of match n; empty when either does not exist or the group took no
    // part in the match. `bytePosition` receives the group's 0-based byte offset in the
    // subject, or -2 in those cases.
    std::string submatchText(int n, int m, int* bytePosition = nullptr) const;

    // The number of capture groups of the first match; 0 when nothing matched.
    int submatchCount() const;

    // The 0-based start of match n counted in UTF-16 code units of the subject (the way a
    // UTF-16 engine reports it), or -1 when there is no such match.
    int firstIndex(int n) const;

private:
    const std::size_t* matchOffsets(int n) const;
    std::string groupText(int n, std::size_t group, int* bytePosition) const;

    std::string pattern_;
    std::string subject_;
    bool executed_ = false;
    std::size_t groupCount_ = 0;
    // Per kept match: start and end byte offsets of the match and of every group.
    std::vector<std::size_t> offsets_;
    std::vector<int> firstIndexes_;
};

} // namespace corvanta
