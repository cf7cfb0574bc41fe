#include "web/CookieText.h"

#include "util/TextSearch.h"

#include <algorithm>

namespace corvanta {

namespace {

constexpr std::string_view kSeparator = "; ";
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";

bool startsWithBlank(std::string_view text, size_t& length) {
    if (text.starts_with(' ')) {
        length = 1;
        return true;
    }
    if (text.starts_with(kIdeographicSpace)) {
        length = kIdeographicSpace.size();
        return true;
    }
    return false;
}

bool endsWithBlank(std::string_view text, size_t& length) {
    if (text.ends_with(' ')) {
        length = 1;
        return true;
    }
    if (text.ends_with(kIdeographicSpace)) {
        length = kIdeographicSpace.size();
        return true;
    }
    return false;
}

std::string removeEveryIgnoringCase(std::string_view text, std::string_view sought) {
    std::string result(text);
    for (int at = findText(result, sought, 0, true); at != -1;
         at = findText(result, sought, at, true)) {
        result.erase(static_cast<size_t>(at - 1), sought.size());
        if (result.empty() || at > static_cast<int>(result.size()))
            break;
    }
    return result;
}

} // namespace

std::string trimCookieText(std::string_view text) {
    size_t length = 0;
    while (startsWithBlank(text, length))
        text.remove_prefix(length);
    while (endsWithBlank(text, length))
        text.remove_suffix(length);
    return std::string(text);
}

std::vector<std::string> splitCookieText(std::string_view text) {
    std::vector<std::string> pieces;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find(kSeparator, begin);
        if (end == std::string_view::npos) {
            pieces.emplace_back(text.substr(begin));
            break;
        }
        pieces.emplace_back(text.substr(begin, end - begin));
        begin = end + kSeparator.size();
    }
    return pieces;
}

std::string cookieName(std::string_view part) {
    return trimCookieText(part.substr(0, part.find('=')));
}

std::string setCookieFromLine(std::string_view line) {
    const size_t nameEnd = line.find(": ");
    if (nameEnd == std::string_view::npos || line.substr(0, nameEnd) != "Set-Cookie")
        return {};
    std::string cookie;
    if (line.find(';') != std::string_view::npos) {
        constexpr std::string_view prefix = "Set-Cookie:";
        const size_t start = line.find(prefix) + prefix.size();
        const size_t end = line.find(';', start);
        cookie = std::string(
            line.substr(start, end == std::string_view::npos ? line.npos : end - start));
    } else {
        cookie = removeEveryIgnoringCase(line, "Set-Cookie:");
    }
    // A line break has no place in a cookie: a stray one in the line ends the cookie there,
    // so that it can never start a line of a later request's header.
    cookie.resize(std::min(cookie.size(), cookie.find_first_of("\r\n")));
    return trimCookieText(cookie);
}

std::string mergeCookieText(std::string& oldCookies, const std::string& newCookies) {
    auto prepare = [](std::string_view text) {
        std::string trimmed = trimCookieText(text);
        if (trimmed.ends_with(';'))
            trimmed += ' ';
        return splitCookieText(trimmed);
    };
    std::vector<std::string> merged = prepare(newCookies);
    for (std::string& part : prepare(oldCookies)) {
        const std::string name = cookieName(part);
        const bool taken = std::any_of(merged.begin(), merged.end(),
                                       [&](const std::string& p) { return cookieName(p) == name; });
        if (!taken)
            merged.push_back(std::move(part));
    }

    // Without "=deleted" parts and repeated ones, joined again.
    auto tidy = [](const std::vector<std::string>& parts) {
        std::string joined;
        for (const std::string& part : parts) {
            if (part.ends_with("=deleted"))
                continue;
            joined += part;
            joined += kSeparator;
        }
        if (!joined.empty())
            joined.resize(joined.size() - kSeparator.size());

        std::vector<std::string> kept;
        for (std::string& part : splitCookieText(joined)) {
            if (std::find(kept.begin(), kept.end(), part) == kept.end())
                kept.push_back(std::move(part));
        }
        std::string text;
        for (size_t i = 0; i < kept.size(); ++i) {
            if (i > 0)
                text += kSeparator;
            text += kept[i];
        }
        return text;
    };
    std::string result = tidy(merged);
    // Parts taken from inside a text may bring a blank or a final ";" to the ends of the
    // result, which reading it again would take away (and may turn a part into a deleted
    // one): the result is read and tidied that way until nothing changes. A round that
    // changes the text shortens it, so this ends.
    for (;;) {
        std::string again = tidy(prepare(result));
        const bool shorter = again.size() < result.size();
        if (again == result)
            break;
        result = std::move(again);
        if (!shorter)
            break;
    }
    oldCookies = result;
    return result;
}

} // namespace corvanta
