#include "export/XlsxWorkbook.h"

#include "export/ExportTestSupport.h"
#include "export/FakeTable.h"
#include "export/TableExport.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace corvanta::test {
namespace {

const std::string programTitles = "关键词|PC指数|移动指数|总指数";

// openpyxl reads widths as stored: the 18 characters plus the cell padding the format adds.
constexpr double storedWidth18 = 18.7109375;

const char* const dataStyle[][2] = {
    {"font", "微软雅黑|11|000000"},
    {"fill", "none"},
    {"border", "thin:000000,thin:000000,thin:000000,thin:000000"},
    {"align", "center|center"},
    {"numfmt", "@"},
};

class XlsxWorkbook : public ExportFolder {};

TEST_F(XlsxWorkbook, CellsAreTextInTheirOwnColumns) {
    FakeTable list;
    const std::string wide = [] {
        std::string s;
        for (int i = 0; i < 5000; ++i)
            s += "长";
        return s;
    }();
    list.addResult("示例", "120", "340", "460")
        .addResult("空 PC", "", "55", "")
        .addResult(" 前后有空格 ", "007", "1e3", "-0")
        .addResult("😀 emoji & <xml> \"quotes\"", wide, "", "0");
    const ExportResult result = exportTable(list, path("out.xlsx"), programTitles);
    ASSERT_TRUE(result.ok) << result.error;

    auto book = readWorkbook(path("out.xlsx"));
    EXPECT_EQ(book["sheets"], "Sheet1");
    EXPECT_EQ(book["Sheet1.rows"], "5");
    EXPECT_EQ(book["Sheet1.columns"], "4");
    EXPECT_EQ(book["Sheet1.stored_dimension"], "A1:D5");
    const char* const expected[][5] = {
        {"1", "关键词", "PC指数", "移动指数", "总指数"},
        {"2", "示例", "120", "340", "460"},
        {"3", "空 PC", "<none>", "55", "<none>"},
        {"4", " 前后有空格 ", "007", "1e3", "-0"},
        {"5", "😀 emoji & <xml> \"quotes\"", wide.c_str(), "<none>", "0"},
    };
    for (const auto& row : expected) {
        for (int column = 0; column < 4; ++column) {
            const std::string cell = std::string("Sheet1!") + char('A' + column) + row[0];
            const std::string text = row[column + 1];
            EXPECT_EQ(book[cell + ".value"], text) << cell;
            // Text, never a number, even where the text looks like one.
            EXPECT_EQ(book[cell + ".type"], text == "<none>" ? "n" : "s") << cell;
        }
    }
}

TEST_F(XlsxWorkbook, CarriesTheHouseStyle) {
    FakeTable list;
    list.addResult("示例", "120", "340", "460").addResult("乙", "", "1", "");
    ASSERT_TRUE(exportTable(list, path("style.xlsx"), programTitles).ok);
    auto book = readWorkbook(path("style.xlsx"));

    for (const std::string column : {"A", "B", "C", "D"}) {
        const std::string title = "Sheet1!" + column + "1";
        EXPECT_EQ(book[title + ".fill"], "solid|008000") << title;
        EXPECT_EQ(book[title + ".font"], "微软雅黑|11|FFFFFF") << title;
        EXPECT_EQ(book[title + ".border"], dataStyle[2][1]) << title;
        EXPECT_EQ(book[title + ".align"], "center|center") << title;
        for (const std::string row : {"2", "3"}) {
            const std::string cell = "Sheet1!" + column + row;
            for (const auto& [key, value] : dataStyle)
                EXPECT_EQ(book[cell + "." + key], value) << cell << "." << key;
        }
        EXPECT_NEAR(std::atof(book["Sheet1.col" + column + ".width"].c_str()), storedWidth18, 1e-3)
            << column;
    }
    // Cells never written take the format of their column: every column of the sheet has
    // one, out to the last (XFD).
    for (const std::string column : {"A", "D", "E", "XFD"}) {
        const std::string key = "Sheet1.col" + column + ".style";
        ASSERT_TRUE(book.count(key)) << key;
        EXPECT_EQ(book[key], "font:微软雅黑|11|000000;fill:none;"
                             "border:thin:000000,thin:000000,thin:000000,thin:000000;"
                             "align:center|center;numfmt:@")
            << key;
    }
    EXPECT_EQ(book["Sheet1.default_row_height"], "20|custom=1");
    for (const std::string row : {"1", "2", "3"})
        EXPECT_EQ(book["Sheet1.row" + row + ".height"], "20") << row;
}

TEST_F(XlsxWorkbook, CellsThatCannotBeStoredAreReported) {
    struct Case {
        const char* name;
        std::string text;
        const char* errorPart;
    };
    const Case cases[] = {
        {"too long", std::string(32768, 'x'), "32,767 characters"},
        {"not UTF-8", "bad \xC3(", "not valid UTF-8"},
    };
    for (const Case& c : cases) {
        WorkbookSheet sheet;
        sheet.name = "Sheet1";
        sheet.titles = {"关键词", "PC指数"};
        sheet.rowCount = 2;
        sheet.columnCount = 2;
        sheet.cell = [&](int row, int column) {
            return row == 1 && column == 1 ? c.text : std::string("ok");
        };
        std::string error;
        EXPECT_FALSE(writeXlsxWorkbook(path("bad.xlsx"), {sheet}, error)) << c.name;
        EXPECT_NE(error.find("B3"), std::string::npos) << c.name << ": " << error;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.name << ": " << error;
    }
}

TEST_F(XlsxWorkbook, WithoutTitlesDataStartsInTheFirstRow) {
    FakeTable list;
    list.addResult("甲", "1", "2", "3");
    ExportOptions options;
    options.writeTitles = false;
    ASSERT_TRUE(exportTable(list, path("plain.xlsx"), programTitles, options).ok);
    auto book = readWorkbook(path("plain.xlsx"));
    EXPECT_EQ(book["Sheet1.rows"], "1");
    EXPECT_EQ(book["Sheet1!A1.value"], "甲");
    EXPECT_EQ(book["Sheet1!A1.fill"], "none");
    EXPECT_EQ(book["Sheet1!D1.value"], "3");
}

} // namespace
} // namespace corvanta::test
