#include "core/KeywordImport.h"

#include "CoreTestSupport.h"
#include "core/ResultsTable.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace corvanta {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

struct FileCase {
    const char* name;
    std::string bytes;
    Lines keywords;
};

class KeywordFile : public testing::TestWithParam<FileCase> {};

TEST_P(KeywordFile, GivesOneRowPerLine) {
    const FileCase& c = GetParam();
    test::TempFolder folder;
    ResultsTable table;
    const ImportResult result = importKeywords(folder.file("k.txt", c.bytes), table);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.rows, static_cast<int>(c.keywords.size()));
    Lines keywords;
    for (int row = 0; row < table.rowCount(); ++row) {
        EXPECT_EQ(table.cellText(row, NumberColumn), std::to_string(row + 1));
        keywords.push_back(table.cellText(row, KeywordColumn));
    }
    EXPECT_EQ(keywords, c.keywords);
}

const std::string kChina = "\xE4\xB8\xAD\xE5\x9B\xBD"; // 中国 in UTF-8
const std::string kChinaGbk = "\xD6\xD0\xB9\xFA";      // 中国 in GBK

INSTANTIATE_TEST_SUITE_P(
    Cases, KeywordFile,
    testing::Values(
        FileCase{"crlf", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        FileCase{"no_final_line_end", "a\r\n\r\nb", {"a", "", "b"}},
        FileCase{"lf", "a\n\nb\n", {"a", "", "b"}}, FileCase{"lone_cr", "a\rb\r", {"a", "b"}},
        FileCase{"mixed_line_ends", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        FileCase{"empty", "", {}}, FileCase{"first_byte_nul", "\0a\r\nb"s, {}},
        FileCase{"nul_ends_the_text", "a\r\nb\0c\r\nd"s, {"a", "b"}},
        FileCase{"end_of_file_mark", "a\r\nb\x1A\r\nc", {"a", "b"}},
        FileCase{"one_line_end", "\r\n", {""}},
        FileCase{"blanks_kept", "  a b \r\n\tc", {"  a b ", "\tc"}},
        FileCase{"utf8", kChina + "\r\nabc", {kChina, "abc"}},
        FileCase{"utf8_bom", "\xEF\xBB\xBF" + kChina + "\r\nx", {kChina, "x"}},
        FileCase{"utf16le_bom", "\xFF\xFE\x2D\x4E\xFD\x56\r\0\n\0x\0"s, {kChina, "x"}},
        FileCase{"utf16be_bom", "\xFE\xFF\x4E\x2D\x56\xFD\0\n\0x"s, {kChina, "x"}},
        FileCase{"gb18030", kChinaGbk + "\r\n" + kChinaGbk + "abc", {kChina, kChina + "abc"}},
        // Invalid as UTF-8 and as GB18030: the bad byte becomes U+FFFD, nothing else is lost.
        FileCase{"invalid_everywhere",
                 "a\xFF"
                 "b\r\nc",
                 {"a\xEF\xBF\xBD"
                  "b",
                  "c"}}),
    [](const testing::TestParamInfo<FileCase>& param) { return std::string(param.param.name); });

TEST(KeywordImport, FilesThatCannotBeReadAreReportedAndAddNothing) {
    test::TempFolder folder;
    ResultsTable table;
    ImportResult missing = importKeywords(folder.path("missing.txt"), table);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("missing.txt"), std::string::npos) << missing.error;
    EXPECT_NE(missing.error.find("文件不存在"), std::string::npos) << missing.error;

    std::filesystem::create_directory(folder.path("dir"));
    ImportResult directory = importKeywords(folder.path("dir"), table);
    EXPECT_FALSE(directory.ok);
    EXPECT_NE(directory.error.find("文件夹"), std::string::npos) << directory.error;

    const std::string locked = folder.file("locked.txt", "a\r\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    if (!std::ifstream(locked)) { // an administrator still reads it
        EXPECT_FALSE(importKeywords(locked, table).ok);
    }
    EXPECT_EQ(table.rowCount(), 0);
}

TEST(KeywordImport, TwoImportsAtOnceBothAppendTheirRows) {
    test::TempFolder folder;
    std::string a, b;
    for (int i = 0; i < 5000; ++i) {
        a += "a" + std::to_string(i) + "\r\n";
        b += "b" + std::to_string(i) + "\n";
    }
    const std::string fileA = folder.file("a.txt", a), fileB = folder.file("b.txt", b);
    ResultsTable table;
    table.appendKeywords({"before"});
    std::thread first([&] { EXPECT_TRUE(importKeywords(fileA, table).ok); });
    std::thread second([&] { EXPECT_TRUE(importKeywords(fileB, table).ok); });
    first.join();
    second.join();
    ASSERT_EQ(table.rowCount(), 10001);
    EXPECT_EQ(table.cellText(0, KeywordColumn), "before");
    // Each import's rows are numbered by their own line.
    for (int row = 1; row < table.rowCount(); ++row) {
        const std::string keyword = table.cellText(row, KeywordColumn);
        EXPECT_EQ(std::to_string(std::stoi(keyword.substr(1)) + 1),
                  table.cellText(row, NumberColumn));
    }
}

} // namespace
} // namespace corvanta
