#include "export/ListText.h"

#include "export/ExportTestSupport.h"
#include "export/FakeTable.h"

#include <gtest/gtest.h>

namespace corvanta::test {
namespace {

const std::string programTitles = "关键词|PC指数|移动指数|总指数";

// GB18030 bytes of the texts used below, spelled out so the check does not go through the
// converter under test.
const std::string shiLi = "\xCA\xBE\xC0\xFD";                          // 示例
const std::string guanJianCi = "\xB9\xD8\xBC\xFC\xB4\xCA";             // 关键词
const std::string grinning = "\x94\x39\xFC\x36";                       // U+1F600, not in GBK
const std::string titleLineBytes = guanJianCi + "|PC\xD6\xB8\xCA\xFD|" // PC指数
                                                "\xD2\xC6\xB6\xAF\xD6\xB8\xCA\xFD|" // 移动指数
                                                "\xD7\xDC\xD6\xB8\xCA\xFD";         // 总指数

struct ColumnMapCase {
    const char* name;
    std::vector<std::string> columns;
    std::string titles;
    std::vector<int> expected;
};

class ColumnMap : public ::testing::TestWithParam<ColumnMapCase> {};

TEST_P(ColumnMap, MapsEachTitleToItsColumn) {
    const ColumnMapCase& c = GetParam();
    FakeTable list(c.columns);
    std::vector<int> map{7, 7, 7, 7, 7, 7, 7}; // replaced as a whole
    buildColumnMap(list, c.titles, "|", map);
    EXPECT_EQ(map, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ColumnMap,
    ::testing::Values(ColumnMapCase{"ProgramTitlesSkipTheNumberColumn",
                                    {"序号", "关键词", "PC指数", "移动指数", "总指数"},
                                    programTitles,
                                    {1, 2, 3, 4}},
                      ColumnMapCase{"FollowsTheOrderOfTheTitles",
                                    {"序号", "关键词", "PC指数", "移动指数", "总指数"},
                                    "总指数|关键词",
                                    {4, 1}},
                      ColumnMapCase{"IgnoresBlanksAndLetterCase",
                                    {"序号", " Keyword ", "PC指数"},
                                    "keyword\xE3\x80\x80|  pc指数",
                                    {1, 2}},
                      // A title naming no column keeps its own place (an empty field) instead of
                      // letting the following titles slide into it.
                      ColumnMapCase{"UnknownTitleGetsAnEmptyField",
                                    {"序号", "关键词", "PC指数"},
                                    "关键词|无此列|PC指数",
                                    {1, -1, 2}},
                      // Two columns with the same title: still one entry, the first of them.
                      ColumnMapCase{"DuplicateColumnGivesOneEntry", {"A", "B", "a"}, "a|b", {0, 1}},
                      ColumnMapCase{"EmptyTitlesGiveNoEntry", {"A"}, "", {}},
                      ColumnMapCase{"EmptyPieceIsATitleToo", {"A", "B"}, "A||B", {0, -1, 1}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ColumnMapTitleLine, ReplacesEveryBarBySeparator) {
    FakeTable list;
    std::vector<int> map;
    EXPECT_EQ(buildColumnMap(list, programTitles, ", ", map), "关键词, PC指数, 移动指数, 总指数");
    EXPECT_EQ(buildColumnMap(list, "a|b|", "\t", map), "a\tb\t");
}

class ListTextFile : public ExportFolder {
protected:
    int write(const FakeTable& list, const std::string& name, bool titles = false,
              const std::string& separator = "|", const ExportProgress& progress = {}) {
        error_.clear();
        return writeListText(list, path(name), programTitles, separator, titles, progress, error_);
    }
    std::string error_;
};

TEST_F(ListTextFile, WritesLegacyCodePageFieldsWithCrLf) {
    FakeTable list;
    list.addResult("示例", "120", "340", "460").addResult("示例").addResult("😀", "", "5");
    ASSERT_EQ(write(list, "out.txt"), 4) << error_;
    EXPECT_EQ(readBytes(path("out.txt")), shiLi + "|120|340|460|\r\n" + //
                                              shiLi + "||||\r\n" +      //
                                              grinning + "||5||\r\n");
}

TEST_F(ListTextFile, TitleLineOnlyWhenAskedAndWithoutTrailingSeparator) {
    FakeTable list;
    list.addResult("示例", "1", "2", "3");
    ASSERT_EQ(write(list, "titled.txt", true), 4) << error_;
    EXPECT_EQ(readBytes(path("titled.txt")), titleLineBytes + "\r\n" + shiLi + "|1|2|3|\r\n");

    ASSERT_EQ(write(list, "tabs.txt", true, "\t"), 4) << error_;
    std::string expectedTitle = titleLineBytes;
    for (char& c : expectedTitle)
        c = c == '|' ? '\t' : c;
    EXPECT_EQ(readBytes(path("tabs.txt")), expectedTitle + "\r\n" + shiLi + "\t1\t2\t3\t\r\n");
}

TEST_F(ListTextFile, NothingIsQuotedOrEscaped) {
    FakeTable list;
    list.addResult("a|b", "1", "2", "3").addResult("say \"hi\",x", "1", "2", "3");
    ASSERT_EQ(write(list, "raw.txt"), 4) << error_;
    EXPECT_EQ(readBytes(path("raw.txt")), "a|b|1|2|3|\r\nsay \"hi\",x|1|2|3|\r\n");
}

TEST_F(ListTextFile, EmptyListGivesAnEmptyFile) {
    FakeTable list;
    ASSERT_EQ(write(list, "empty.txt"), 4) << error_;
    ASSERT_TRUE(fs::exists(path("empty.txt")));
    EXPECT_EQ(fs::file_size(path("empty.txt")), 0u);
}

TEST_F(ListTextFile, NoTitlesWritesNoFile) {
    FakeTable list;
    list.addResult("示例");
    EXPECT_EQ(writeListText(list, path("none.txt"), "", "|", false, {}, error_), 0);
    EXPECT_FALSE(error_.empty());
    EXPECT_TRUE(entries().empty());
}

TEST_F(ListTextFile, ReportsProgressOncePerRow) {
    FakeTable list;
    list.addResult("a").addResult("b").addResult("c");
    std::vector<std::pair<int, int>> calls;
    write(list, "progress.txt", true, "|",
          [&](int rows, int row) { calls.emplace_back(rows, row); });
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{3, 1}, {3, 2}, {3, 3}}));
}

// Long enough to be converted and written in several pieces.
TEST_F(ListTextFile, LongListComesOutWhole) {
    FakeTable list;
    std::string expected;
    for (int i = 0; i < 60000; ++i) {
        list.addResult("示例" + std::to_string(i), std::to_string(i), "", "9");
        expected += shiLi + std::to_string(i) + "|" + std::to_string(i) + "||9|\r\n";
    }
    ASSERT_EQ(write(list, "long.txt"), 4) << error_;
    EXPECT_EQ(readBytes(path("long.txt")), expected);
}

TEST_F(ListTextFile, TextThatCannotBeConvertedFailsNamingTheCellAndKeepsTheOldFile) {
    struct Case {
        int goodRowsBefore; // enough of them put the bad row in a later piece of the file
        std::string expectedRow;
    };
    for (const Case& c : {Case{1, "Cell A2 "}, Case{50000, "Cell A50001 "}}) {
        writeBytes(path("old.txt"), "old contents");
        FakeTable list;
        for (int i = 0; i < c.goodRowsBefore; ++i)
            list.addResult("good keyword " + std::to_string(i), "1", "2", "3");
        list.addResult("bad \xFF\xFE text");
        EXPECT_EQ(write(list, "old.txt"), -1);
        EXPECT_NE(error_.find(c.expectedRow), std::string::npos) << error_;
        EXPECT_EQ(readBytes(path("old.txt")), "old contents");
        EXPECT_EQ(entries(), std::set<std::string>{"old.txt"});
    }
}

// File names are UTF-8 like every other text: a folder and a file named in Chinese (a
// user's desktop, say) are the ones the system shows under those names.
TEST_F(ListTextFile, WritesToAFileNamedInAnyScript) {
    FakeTable list;
    list.addResult("示例", "1", "2", "3");
    const fs::path folder = folder_ / fs::path(u8"导出 文件夹");
    fs::create_directories(folder);
    const std::string name = path("导出 文件夹/结果.txt");
    ASSERT_EQ(writeListText(list, name, programTitles, "|", false, {}, error_), 4) << error_;
    std::ifstream in(folder / fs::path(u8"结果.txt"), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(bytes, shiLi + "|1|2|3|\r\n");
    std::vector<std::string> names; // in UTF-8
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::u8string entryName = entry.path().filename().u8string();
        names.emplace_back(entryName.begin(), entryName.end());
    }
    EXPECT_EQ(names, std::vector<std::string>{"结果.txt"}) << "no temporary file is left";
}

TEST_F(ListTextFile, AMissingFolderIsNamedReadably) {
    FakeTable list;
    list.addResult("示例");
    EXPECT_EQ(writeListText(list, path("没有的文件夹/结果.txt"), programTitles, "|", false, {},
                            error_),
              -1);
    EXPECT_NE(error_.find("没有的文件夹\" does not exist"), std::string::npos) << error_;
}

} // namespace
} // namespace corvanta::test
