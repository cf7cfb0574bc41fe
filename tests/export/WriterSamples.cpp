// Writes the same sample exports and charset conversions on every system, so that the
// outputs of two builds (Linux and Windows) can be compared byte for byte:
//
//   writer_samples FOLDER
//
// FOLDER gets conversions.tsv, and its subfolder 导出 gets list.txt, list.csv and book.xls.
// Each line of conversions.tsv is "case<TAB>result". A case the system cannot answer the
// way a complete GB18030 table does (Windows without code page 54936) has the result
// "skipped".

#include "export/FakeTable.h"
#include "export/ListText.h"
#include "export/xls/XlsWorkbook.h"
#include "util/CodePage.h"
#include "util/Platform.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using corvanta::test::FakeTable;

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out.empty() ? "-" : out;
}

std::string hex(const std::u16string& wide) {
    std::string bytes;
    for (char16_t unit : wide) {
        bytes += static_cast<char>(unit >> 8);
        bytes += static_cast<char>(unit & 0xFF);
    }
    return hex(bytes);
}

std::string result(const std::optional<std::string>& converted) {
    return converted ? hex(*converted) : "none";
}

// Inputs in the charset they are read from.
struct Input {
    const char* name;
    const char* charset;
    std::string bytes;
};

const std::vector<Input>& inputs() {
    static const std::vector<Input> list = {
        {"ascii", "UTF-8", "plain text 123"},
        {"chinese", "UTF-8", "关键词 中国"},
        {"emoji", "UTF-8", "a\xF0\x9F\x98\x80z"},
        {"euro", "UTF-8", "\xE2\x82\xAC"},
        {"latin", "UTF-8", "caf\xC3\xA9"},
        {"yen", "UTF-8", "\xC2\xA5"},
        {"emDash", "UTF-8", "\xE2\x80\x94"},
        {"strayByte", "UTF-8", "a\xFF"
                               "b"},
        {"cutInside", "UTF-8", "\xE4\xB8x"},
        {"cutAtEnd", "UTF-8", "x\xE4\xB8"},
        {"overlong", "UTF-8", "\xC0\xAFx"},
        {"overlongCutAtEnd", "UTF-8", "x\xE0\x80"},
        {"surrogate", "UTF-8", "\xED\xA0\x80x"},
        {"beyondUnicode", "UTF-8", "\xF4\x90\x80\x80x"},
        {"gbTwoByte", "GB18030", "\xD6\xD0\xB9\xFA"},
        {"gbFourByteSupplementary", "GB18030", "\x95\x34\xB2\x35x"},
        {"gbFourByteBmp", "GB18030", "\x81\x30\x84\x36"},
        {"gbEuro", "GB18030", "\xA2\xE3"},
        {"gbSingle80", "GB18030", "a\x80"
                                  "b"},
        {"gbSingleFF", "GB18030", "a\xFF"
                                  "b"},
        {"gbLeadBeforeBlank", "GB18030", "\xA1 x"},
        {"gbLeadAtEnd", "GB18030", "\xD6\xD0\xD6"},
        {"gbFourByteCut", "GB18030", "x\x81\x30\x81"},
        {"gbFourByteBadThird", "GB18030", "\x81\x30\x20\x41"},
        {"gbFourBytePastBmp", "GB18030", "\x84\x31\xA5\x30x"},
        {"gbFourBytePastUnicode", "GB18030", "\xE3\x32\x9A\x36x"},
        {"utf16Pair", "UTF-16LE", "\x3D\xD8\x00\xDE"s},
        {"utf16LoneHigh", "UTF-16LE", "a\0\x00\xD8"
                                      "b\0"s},
        {"utf16LoneLow", "UTF-16LE", "a\0\x00\xDC"s},
        {"utf16HighAtEnd", "UTF-16LE", "a\0\x00\xD8"s},
        {"utf16OddByte", "UTF-16LE", "a\0b"s},
        {"utf16Be", "UTF-16BE", "\x4E\x2D\x00\x61"s},
        {"cp1252", "CP1252", "caf\xE9 \x80"},
        {"big5", "BIG5", "\xA4\xA4\xB0\xEA"},
        {"shiftJis", "SHIFT_JIS", "\x93\xFA\x96\x7B"},
        {"eucKr", "EUC-KR", "\xC7\xD1\xB1\xB9"},
        {"koi8r", "KOI8-R", "\xF0\xD2\xC9"},
        {"iso88592", "ISO-8859-2", "\xB1\xE6"},
        {"iso885915", "ISO-8859-15", "\xA4"},
    };
    return list;
}

const std::vector<const char*>& targets() {
    static const std::vector<const char*> list = {"UTF-8", "GB18030", "UTF-16LE", "UTF-16BE",
                                                  "CP1252"};
    return list;
}

// True when the system's GB18030 has its full table, not GBK and formulas alone.
bool completeGb18030() {
    static const bool complete =
        corvanta::platform::convertCharset("\xC2\xA5", "UTF-8", "GB18030").has_value();
    return complete;
}

bool isGb18030(const std::string& charset) {
    return charset == "GB18030";
}

bool isGb18030(int codePage) {
    return codePage == 936 || codePage == 54936;
}

// Whether GB18030 input holds a four-byte form of a BMP character, which needs the table.
bool needsGbTable(std::string_view gb18030) {
    if (completeGb18030())
        return false;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(gb18030[i]); };
    for (std::size_t i = 0; i + 3 < gb18030.size(); ++i)
        if (at(i) >= 0x81 && at(i) <= 0x84 && at(i + 1) >= 0x30 && at(i + 1) <= 0x39 &&
            at(i + 2) >= 0x81 && at(i + 2) <= 0xFE && at(i + 3) >= 0x30 && at(i + 3) <= 0x39)
            return true;
    return false;
}

// Whether a text holds a BMP character that only GB18030's table can write.
bool needsGbTable(const std::u16string& wide) {
    if (completeGb18030())
        return false;
    for (char16_t unit : wide) {
        if (unit >= 0xD800 && unit <= 0xDFFF)
            continue;
        const std::string bytes{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        if (!corvanta::platform::convertCharset(bytes, "UTF-16LE", "GB18030"))
            return true;
    }
    return false;
}

// The valid characters of the input, as UTF-16.
std::u16string validCharacters(const Input& in) {
    const auto bytes = corvanta::platform::convertCharsetLenient(
        in.bytes, in.charset, "UTF-16LE", "", [](std::string_view) { return std::size_t{1}; });
    std::u16string wide;
    for (std::size_t i = 0; bytes && i + 1 < bytes->size(); i += 2)
        wide += static_cast<char16_t>(static_cast<unsigned char>((*bytes)[i]) |
                                      static_cast<unsigned char>((*bytes)[i + 1]) << 8);
    return wide;
}

void writeConversions(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    const auto line = [&](const std::string& key, const std::string& value, bool needsTable) {
        out << key << '\t' << (needsTable ? "skipped" : value) << '\n';
    };
    for (const Input& in : inputs()) {
        const bool readNeedsTable = isGb18030(in.charset) && needsGbTable(in.bytes);
        const bool writeNeedsTable = needsGbTable(validCharacters(in));
        for (const char* to : targets()) {
            // glibc lets UTF-8 into UTF-8 through unchecked past U+10FFFF: no conversion
            // to its own charset is compared.
            if (std::string(in.charset) == to)
                continue;
            const bool beyondGbk = readNeedsTable || (isGb18030(to) && writeNeedsTable);
            const std::string key = std::string(in.name) + ">" + to;
            line(key + " strict",
                 result(corvanta::platform::convertCharset(in.bytes, in.charset, to)),
                 beyondGbk);
            const auto skipOne = [](std::string_view) { return std::size_t{1}; };
            line(key + " lenient",
                 result(corvanta::platform::convertCharsetLenient(in.bytes, in.charset, to, "?",
                                                                  skipOne)),
                 beyondGbk);
        }
    }
    // The code-page helpers on top: every legacy and Unicode code page both ways.
    for (const Input& in : inputs()) {
        for (int codePage : {936, 54936, 65001, 1200, 1201, 1252}) {
            const std::string key = std::string(in.name) + " cp" + std::to_string(codePage);
            const std::u16string wide = corvanta::codePageToWide(in.bytes, codePage);
            line(key + " toWide", hex(wide), isGb18030(codePage) && needsGbTable(in.bytes));
            line(key + " fromWide", hex(corvanta::wideToCodePage(wide, codePage)),
                 isGb18030(codePage) && needsGbTable(wide));
        }
    }
    for (const char* name : {"UTF-8", "utf-8", "GB18030", "gbk", "CP936", "CP1252", "WINDOWS-1252",
                              "UTF-16LE", "UTF-16BE", "CP65001", "CP99999", "NO-SUCH", "big5",
                              "Shift_JIS", "EUC-KR", "KOI8-R", "ISO-8859-2", "iso-8859-15",
                              "ISO-8859-99"})
        line("known " + std::string(name),
             corvanta::platform::isKnownCharset(name) ? "yes" : "no", false);
}

FakeTable sampleList() {
    FakeTable list;
    const std::vector<std::string> keywords = {
        "示例", "关键词", "plain", "caf\xC3\xA9", "a\xF0\x9F\x98\x80z", "\xE2\x82\xAC 5",
        "", "with|bar", "with,comma", "quote\"d", "tab\there", "\xF0\xA0\xAE\xB7"};
    for (int i = 0; i < 3000; ++i) {
        const std::string& keyword = keywords[static_cast<std::size_t>(i) % keywords.size()];
        list.addResult(keyword + std::to_string(i), std::to_string(i * 7), std::to_string(i % 13),
                       i % 5 == 0 ? "" : std::to_string(i * 7 + i % 13));
    }
    return list;
}

bool writeLists(const std::string& folder) {
    const FakeTable list = sampleList();
    std::string error;
    const std::string titles = "关键词|PC指数|移动指数|总指数";
    if (corvanta::writeListText(list, folder + "/list.txt", titles, "|", true, {}, error) <= 0 ||
        corvanta::writeListText(list, folder + "/list.csv", titles, ",", false, {}, error) <= 0) {
        std::fprintf(stderr, "list: %s\n", error.c_str());
        return false;
    }
    std::vector<corvanta::WorkbookSheet> sheets;
    sheets.push_back({"结果", {"序号", "关键词", "PC指数", "移动指数", "总指数"},
                      list.rowCount(), list.listColumnCount(),
                      [&list](int row, int column) { return list.cellText(row, column); }});
    sheets.push_back({"a/b:c*d?e[f]g and a name longer than the limit", {"x"}, 2, 1,
                      [](int row, int) { return "第" + std::to_string(row) + "行"; }});
    sheets.push_back({"结果", {}, 1, 1, [](int, int) { return std::string(40000, 'x').substr(0, 32767); }});
    if (!corvanta::writeXlsWorkbook(folder + "/book.xls", sheets, error)) {
        std::fprintf(stderr, "book: %s\n", error.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: writer_samples FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    writeConversions(folder + "/conversions.tsv");
    // The exports go to a folder named in Chinese, as a user's folders often are.
    const std::string exports = folder + "/导出";
    std::error_code ec;
    std::filesystem::create_directories(corvanta::platform::pathFromUtf8(exports), ec);
    return writeLists(exports) ? 0 : 1;
}
