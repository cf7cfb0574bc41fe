#include "cli/ConsoleText.h"

#include "util/Utf8.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace corvanta::cli {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The code point of the well-formed character of `length` bytes at `pos`.
std::uint32_t codePoint(std::string_view text, std::size_t pos, std::size_t length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    if (length == 1)
        return byte(0);
    std::uint32_t value = byte(0) & (0xFFu >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
        value = (value << 6) | (byte(i) & 0x3Fu);
    return value;
}

bool isControl(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

int charWidth(std::uint32_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || c == 0xFE0F)
        return 0; // combining marks, zero-width characters, the emoji selector
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// Calls visit(character bytes, width) for every character of the printable form of text.
template <typename Visit>
void forEachPrintable(std::string_view text, Visit visit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = utf8::sequenceLength(text, pos);
        if (length == 0) {
            visit(kReplacement, 1);
            ++pos;
            continue;
        }
        const std::uint32_t c = codePoint(text, pos, length);
        if (isControl(c))
            visit(kReplacement, 1);
        else
            visit(text.substr(pos, length), charWidth(c));
        pos += length;
    }
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    forEachPrintable(text, [&](std::string_view bytes, int) { out.append(bytes); });
    return out;
}

int displayWidth(std::string_view text) {
    int width = 0;
    forEachPrintable(text, [&](std::string_view, int w) { width += w; });
    return width;
}

std::string fitWidth(std::string_view text, int width) {
    if (displayWidth(text) <= width)
        return printable(text);
    std::string out;
    int used = 0;
    bool full = false;
    forEachPrintable(text, [&](std::string_view bytes, int w) {
        if (full || used + w > width - 1) {
            full = true;
            return;
        }
        out.append(bytes);
        used += w;
    });
    return out + "\xE2\x80\xA6"; // …
}

std::string padRight(std::string_view text, int width) {
    std::string out = printable(text);
    const int w = displayWidth(out);
    if (w < width)
        out.append(static_cast<std::size_t>(width - w), ' ');
    return out;
}

std::string padLeft(std::string_view text, int width) {
    std::string out = printable(text);
    const int w = displayWidth(out);
    return w < width ? std::string(static_cast<std::size_t>(width - w), ' ') + out : out;
}

std::string formatDuration(double seconds) {
    char buffer[32];
    if (!(seconds >= 0))
        seconds = 0;
    if (seconds < 60) {
        std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
        return buffer;
    }
    const long long total = std::llround(seconds);
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0)
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", h, m, s);
    else
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", m, s);
    return buffer;
}

} // namespace corvanta::cli
