// Keyword files far from what a user means to give: binary bytes, one line of a megabyte,
// a million lines, text broken in every encoding. Each imports with a clear outcome: every
// line becomes one row of well-formed UTF-8, nothing is dropped or cut.
#include "CoreTestSupport.h"
#include "core/KeywordImport.h"
#include "core/ResultsTable.h"
#include "util/Utf8.h"

#include <gtest/gtest.h>
#include <random>

namespace corvanta {
namespace {

using namespace std::string_literals;

// The number of lines of a file's bytes as a user counts them: CR LF, LF or a lone CR ends
// a line; the text after the last line end counts when there is any.
int linesOf(const std::string& bytes) {
    int lines = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || bytes[i] == '\r') {
            ++lines;
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        }
    }
    const char last = bytes.empty() ? '\n' : bytes.back();
    return lines + (last == '\n' || last == '\r' ? 0 : 1);
}

// Binary bytes (no NUL and no end-of-file mark, which end a text file by rule): every line
// is a row, every row well-formed UTF-8, in the order of the file.
TEST(KeywordFileExtremes, BinaryBytesGiveOneValidRowPerLine) {
    std::mt19937 random(20261211);
    std::string bytes;
    for (int i = 0; i < 256 * 1024; ++i) {
        auto b = static_cast<char>(random() % 255 + 1);
        if (b == '\x1A')
            b = '\x1B';
        bytes += b;
    }
    test::TempFolder folder;
    ResultsTable table;
    const ImportResult result = importKeywords(folder.file("binary.bin", bytes), table);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.rows, linesOf(bytes));
    EXPECT_EQ(table.rowCount(), result.rows);
    for (int row = 0; row < table.rowCount(); ++row)
        ASSERT_TRUE(utf8::isValid(table.cellText(row, KeywordColumn))) << row;
}

// A megabyte on one line stays one keyword of exactly that text; the lines around it are
// kept too.
TEST(KeywordFileExtremes, OneMegabyteLineIsOneWholeKeyword) {
    std::string longLine;
    for (int i = 0; longLine.size() < 1024 * 1024; ++i)
        longLine += "\xE4\xB8\xAD" + std::to_string(i % 10); // 中N
    test::TempFolder folder;
    ResultsTable table;
    const ImportResult result =
        importKeywords(folder.file("long.txt", "before\r\n" + longLine + "\r\nafter"), table);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.cellText(0, KeywordColumn), "before");
    EXPECT_EQ(table.cellText(1, KeywordColumn), longLine);
    EXPECT_EQ(table.cellText(2, KeywordColumn), "after");
}

// A million lines: a million rows, numbered, in order.
TEST(KeywordFileExtremes, AMillionLinesAreAMillionRows) {
    constexpr int count = 1000000;
    std::string bytes;
    bytes.reserve(count * 9);
    for (int i = 0; i < count; ++i)
        bytes += "k" + std::to_string(i) + "\n";
    test::TempFolder folder;
    ResultsTable table;
    const ImportResult result = importKeywords(folder.file("million.txt", bytes), table);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.rows, count);
    ASSERT_EQ(table.rowCount(), count);
    for (int row : {0, 1, 499999, count - 1}) {
        EXPECT_EQ(table.cellText(row, KeywordColumn), "k" + std::to_string(row));
        EXPECT_EQ(table.cellText(row, NumberColumn), std::to_string(row + 1));
    }
}

// Text that is broken whatever encoding it is read in: every line is a row of well-formed
// UTF-8, the broken bytes replaced, the readable characters kept.
TEST(KeywordFileExtremes, TextBrokenInEveryEncodingKeepsEveryLine) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> contains; // what each row still holds, in order
    };
    const Case cases[] = {
        {"utf16le, odd length",
         "\xFF\xFE"
         "a\0\n\0b\0\n"s,
         {"a", "b"}},
        {"utf16le, lone surrogate",
         "\xFF\xFE"
         "a\0\x00\xD8\n\0c\0"s,
         {"a", "c"}},
        {"utf16be, lone low surrogate", "\xFE\xFF\0a\xDC\x00\0\n\0d"s, {"a", "d"}},
        {"utf8 bom, broken sequences",
         "\xEF\xBB\xBF"
         "x\xC3\r\ny\xE4\xB8"s,
         {"x", "y"}},
        {"overlong and surrogate forms",
         "\xC0\xAF"
         "e\n\xED\xA0\x80"
         "f"s,
         {"e", "f"}},
        // A broken sequence at the very end once took the characters after it along.
        {"gb18030 sequences cut short", "\x81\ng\n\x82\x30h"s, {"\xEF\xBF\xBD", "g", "0h"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        ResultsTable table;
        const ImportResult result = importKeywords(folder.file("broken.txt", c.bytes), table);
        ASSERT_TRUE(result.ok) << result.error;
        ASSERT_EQ(table.rowCount(), static_cast<int>(c.contains.size()));
        for (int row = 0; row < table.rowCount(); ++row) {
            const std::string keyword = table.cellText(row, KeywordColumn);
            EXPECT_TRUE(utf8::isValid(keyword)) << row;
            EXPECT_NE(keyword.find(c.contains[static_cast<std::size_t>(row)]), std::string::npos)
                << row << ": " << keyword;
        }
    }
}

} // namespace
} // namespace corvanta
