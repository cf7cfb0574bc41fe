#include "export/TableExport.h"

#include "export/ExportTestSupport.h"
#include "export/FakeTable.h"
#include "util/CodePage.h"

#include <gtest/gtest.h>

namespace corvanta::test {
namespace {

const std::string programTitles = "关键词|PC指数|移动指数|总指数";
const std::string shiLi = "\xCA\xBE\xC0\xFD"; // 示例 in GB18030

class TableExport : public ExportFolder {
protected:
    TableExport() { list_.addResult("示例", "120", "", "460").addResult("乙"); }
    FakeTable list_;
};

TEST_F(TableExport, TextFilesWhateverTheExtensionsCase) {
    const std::string expected = shiLi + "|120||460|\r\n\xD2\xD2||||\r\n"; // 乙 = D2 D2
    for (const std::string name : {"report.txt", "report.TXT", "报表.csv", "报表.Csv"}) {
        const ExportResult result = exportTable(list_, path(name), programTitles);
        ASSERT_TRUE(result.ok) << name << ": " << result.error;
        EXPECT_EQ(readBytes(path(name)), expected) << name;
    }
}

TEST_F(TableExport, WorkbookWhateverTheExtensionsCase) {
    const ExportResult result = exportTable(list_, path("报表.XLSX"), programTitles);
    ASSERT_TRUE(result.ok) << result.error;
    auto book = readWorkbook(path("报表.XLSX"));
    EXPECT_EQ(book["Sheet1!A1.value"], "关键词");
    EXPECT_EQ(book["Sheet1!A2.value"], "示例");
    // The empty PC value keeps its cell: the mobile column stays where it belongs.
    EXPECT_EQ(book["Sheet1!B2.value"], "120");
    EXPECT_EQ(book["Sheet1!C2.value"], "<none>");
    EXPECT_EQ(book["Sheet1!D2.value"], "460");
}

TEST_F(TableExport, ReplacesAnExistingFileCompletely) {
    for (const std::string name : {"old.txt", "old.xlsx"}) {
        writeBytes(path(name), std::string(100000, 'z'));
        const ExportResult result = exportTable(list_, path(name), programTitles);
        ASSERT_TRUE(result.ok) << name << ": " << result.error;
        const std::string bytes = readBytes(path(name));
        EXPECT_EQ(bytes.find("zzzz"), std::string::npos) << name;
    }
    EXPECT_EQ(readBytes(path("old.txt")), shiLi + "|120||460|\r\n\xD2\xD2||||\r\n");
    EXPECT_EQ(readWorkbook(path("old.xlsx"))["Sheet1!A3.value"], "乙");
    EXPECT_EQ(entries(), (std::set<std::string>{"old.txt", "old.xlsx"}));
}

struct FailureCase {
    const char* name;
    const char* target; // relative to the test folder
    const char* errorPart;
};

class ExportFailure : public TableExport, public ::testing::WithParamInterface<FailureCase> {
protected:
    void SetUp() override {
        TableExport::SetUp();
        writeBytes(path("keep.txt"), "old text");
        writeBytes(path("plain-file"), "a file, not a folder");
        fs::create_directories(path("a.b"));
        fs::create_directories(path("folder.txt"));
        fs::create_directories(path("folder.xlsx"));
    }
};

TEST_P(ExportFailure, ReportsWhyAndLeavesEverythingAsItWas) {
    const FailureCase& c = GetParam();
    const std::set<std::string> before = entries();
    const ExportResult result = exportTable(list_, path(c.target), programTitles);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << result.error;
    EXPECT_EQ(entries(), before); // no new file, no temporary file left
    EXPECT_TRUE(entries(path("a.b")).empty());
    EXPECT_EQ(readBytes(path("keep.txt")), "old text");
    EXPECT_TRUE(fs::is_directory(path("folder.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ExportFailure,
    ::testing::Values(FailureCase{"MissingFolder", "missing/out.txt", "does not exist"},
                      FailureCase{"MissingFolderWorkbook", "missing/out.xlsx", "does not exist"},
                      // Tests run as root, so a folder without write permission does not stop them;
                      // a path through a regular file does.
                      FailureCase{"PathThroughAFile", "plain-file/out.txt", "not a folder"},
                      FailureCase{"PathThroughAFileWorkbook", "plain-file/out.xlsx",
                                  "not a folder"},
                      FailureCase{"TargetIsAFolder", "folder.txt", "is a folder"},
                      FailureCase{"TargetIsAFolderWorkbook", "folder.xlsx", "is a folder"},
                      FailureCase{"UnknownExtension", "keep.doc", ".txt, .csv, .xls or .xlsx"},
                      FailureCase{"NoExtension", "keep", ".txt, .csv, .xls or .xlsx"},
                      FailureCase{"DotOnlyInTheFolderName", "a.b/c", ".txt, .csv, .xls or .xlsx"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(TableExport, NoColumnsToExportIsAFailure) {
    for (const std::string name : {"none.txt", "none.xlsx"}) {
        const ExportResult result = exportTable(list_, path(name), "");
        EXPECT_FALSE(result.ok) << name;
        EXPECT_FALSE(result.error.empty()) << name;
    }
    EXPECT_TRUE(entries().empty());
}

TEST_F(TableExport, WorkbookCellThatCannotBeStoredKeepsTheOldFile) {
    writeBytes(path("keep.xlsx"), "old workbook");
    list_.addResult(std::string(40000, 'k'));
    const ExportResult result = exportTable(list_, path("keep.xlsx"), programTitles);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("A4"), std::string::npos) << result.error;
    EXPECT_EQ(readBytes(path("keep.xlsx")), "old workbook");
    EXPECT_EQ(entries(), std::set<std::string>{"keep.xlsx"});
}

struct SplitCase {
    const char* name;
    int rows;
    bool titles;
    std::vector<int> rowsPerSheet; // rows each sheet holds, title row included
};

class LongList : public ExportFolder, public ::testing::WithParamInterface<SplitCase> {};

// A sheet limit of 4 rows stands in for the formats' real limits.
TEST_P(LongList, ContinuesOnFurtherSheetsEachWithItsTitleRow) {
    const SplitCase& c = GetParam();
    FakeTable list;
    for (int i = 1; i <= c.rows; ++i)
        list.addResult("kw" + std::to_string(i), std::to_string(i * 10));
    ExportOptions options;
    options.writeTitles = c.titles;
    options.sheetRowLimit = 4;
    std::vector<int> progressRows;
    options.progress = [&](int rows, int row) {
        EXPECT_EQ(rows, c.rows);
        progressRows.push_back(row);
    };
    ASSERT_TRUE(exportTable(list, path("long.xlsx"), programTitles, options).ok);

    auto book = readWorkbook(path("long.xlsx"));
    std::string names;
    int next = 1; // the list row expected next
    for (std::size_t s = 0; s < c.rowsPerSheet.size(); ++s) {
        const std::string sheet = "Sheet" + std::to_string(s + 1);
        names += (s ? "," : "") + sheet;
        EXPECT_EQ(book[sheet + ".rows"], std::to_string(c.rowsPerSheet[s])) << sheet;
        int row = 1;
        if (c.titles) {
            EXPECT_EQ(book[sheet + "!A1.value"], "关键词") << sheet;
            EXPECT_EQ(book[sheet + "!A1.fill"], "solid|008000") << sheet;
            ++row;
        }
        for (; row <= c.rowsPerSheet[s]; ++row, ++next) {
            const std::string cell = sheet + "!A" + std::to_string(row);
            EXPECT_EQ(book[cell + ".value"], "kw" + std::to_string(next)) << cell;
            EXPECT_EQ(book[sheet + "!B" + std::to_string(row) + ".value"],
                      std::to_string(next * 10));
        }
    }
    EXPECT_EQ(book["sheets"], names);
    EXPECT_EQ(next, c.rows + 1) << "every list row written once";
    std::vector<int> expectedProgress(static_cast<std::size_t>(c.rows));
    for (int i = 0; i < c.rows; ++i)
        expectedProgress[static_cast<std::size_t>(i)] = i + 1;
    EXPECT_EQ(progressRows, expectedProgress);
}

INSTANTIATE_TEST_SUITE_P(SheetLimit, LongList,
                         ::testing::Values(SplitCase{"FitsOneSheetExactly", 3, true, {4}},
                                           SplitCase{"OneRowMore", 4, true, {4, 2}},
                                           SplitCase{"ThreeSheets", 7, true, {4, 4, 2}},
                                           SplitCase{"WithoutTitles", 9, false, {4, 4, 1}},
                                           SplitCase{"EmptyListKeepsTheTitleRow", 0, true, {1}}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// Only the row count matters for cutting the list into sheets.
class SizedTable : public ListSource {
public:
    explicit SizedTable(int rows) : rows_(rows) {}
    int rowCount() const override { return rows_; }
    int listColumnCount() const override { return 5; }
    std::string columnTitle(int) const override { return {}; }
    std::string cellText(int row, int column) const override {
        return std::to_string(row) + ":" + std::to_string(column);
    }

private:
    int rows_;
};

TEST(WorkbookSheets, RealSheetLimits) {
    struct Case {
        int limit;
        int rows;
        std::vector<int> sheetRows; // list rows per sheet
    };
    const std::vector<int> map{1, 2, 3, 4};
    const std::vector<std::string> titles{"关键词", "PC指数", "移动指数", "总指数"};
    for (const Case& c : {Case{xlsSheetRows, 65535, {65535}}, Case{xlsSheetRows, 65536, {65535, 1}},
                          Case{xlsxSheetRows, 1048575, {1048575}},
                          Case{xlsxSheetRows, 2097151, {1048575, 1048575, 1}}}) {
        SizedTable list(c.rows);
        const auto sheets = workbookSheets(list, titles, map, true, c.limit);
        ASSERT_EQ(sheets.size(), c.sheetRows.size()) << c.rows;
        int first = 0;
        for (std::size_t s = 0; s < sheets.size(); ++s) {
            EXPECT_EQ(sheets[s].rowCount, c.sheetRows[s]);
            EXPECT_EQ(sheets[s].titles, titles);
            EXPECT_EQ(sheets[s].cell(0, 0), std::to_string(first) + ":1");
            first += sheets[s].rowCount;
        }
    }
}

// The .xls writer takes the same sheets, read back with xlrd.
TEST_F(TableExport, XlsWorkbookCarriesTheSameContentAndStyle) {
    const ExportResult result = exportTable(list_, path("报表.XLS"), programTitles);
    ASSERT_TRUE(result.ok) << result.error;
    auto book = readWorkbook(path("报表.XLS"));
    EXPECT_EQ(book["Sheet1!A1.value"], "关键词");
    EXPECT_EQ(book["Sheet1!A1.fill"], "solid|008000");
    EXPECT_EQ(book["Sheet1!A1.font"], "微软雅黑|11|FFFFFF");
    EXPECT_EQ(book["Sheet1!B2.value"], "120");
    EXPECT_EQ(book["Sheet1!B2.type"], "s");
    EXPECT_EQ(book["Sheet1!C2.value"], "<none>");
    EXPECT_EQ(book["Sheet1!D2.value"], "460");
    EXPECT_EQ(book["Sheet1!B2.font"], "微软雅黑|11|000000");
    EXPECT_EQ(book["Sheet1!B2.border"], "thin:000000,thin:000000,thin:000000,thin:000000");
    EXPECT_EQ(book["Sheet1!B2.align"], "center|center");
    EXPECT_EQ(book["Sheet1.row2.height"], "20");
    // Stored as the .xlsx writer stores 18 characters, so both show the same width.
    EXPECT_EQ(book["Sheet1.colA.width"], "18.7109");
}

// Every writer follows one rule for a cell's text: it writes every valid text so that a
// reader gets it back, or refuses naming the cell where the user would look for it.
struct CellRuleCase {
    const char* name;
    std::string keyword; // the second list row's keyword
    // Per file type: the text read back, or empty for a refusal with refusalPart.
    bool textFileWrites;
    bool workbooksWrite;
    const char* refusalPart;
};

class CellTextRule : public ExportFolder, public ::testing::WithParamInterface<CellRuleCase> {};

TEST_P(CellTextRule, WritesItBackOrRefusesNamingTheCell) {
    const CellRuleCase& c = GetParam();
    FakeTable list;
    list.addResult("first", "1", "2", "3").addResult(c.keyword, "4", "5", "6");
    for (const std::string name : {"out.txt", "out.xls", "out.xlsx"}) {
        SCOPED_TRACE(name);
        const bool workbook = name != "out.txt";
        const ExportResult result = exportTable(list, path(name), programTitles);
        if (!(workbook ? c.workbooksWrite : c.textFileWrites)) {
            EXPECT_FALSE(result.ok);
            // The keyword column is A; the title row puts list row 2 on row 3 of a sheet.
            const std::string cell = workbook ? "Cell A3 " : "Cell A2 ";
            EXPECT_EQ(result.error.find(cell + c.refusalPart), 0u) << result.error;
            EXPECT_FALSE(fs::exists(path(name)));
            continue;
        }
        ASSERT_TRUE(result.ok) << result.error;
        if (workbook) {
            EXPECT_EQ(readWorkbook(path(name))["Sheet1!A3.value"], c.keyword);
        } else {
            const std::string bytes = readBytes(path(name));
            const std::string secondLine = bytes.substr(bytes.find("\r\n") + 2);
            EXPECT_EQ(ansiToUtf8(secondLine.substr(0, secondLine.find('|'))), c.keyword);
        }
    }
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CellTextRule,
    ::testing::Values(
        // Characters XML forbids, in the middle of ordinary text.
        CellRuleCase{"Noncharacters",
                     "a\xEF\xBF\xBE"
                     "b\xEF\xBF\xBF"
                     "c",
                     true, true, ""},
        // The .xlsx escape form written literally must not be decoded by readers.
        CellRuleCase{"LiteralEscapeForm", "_x0041_ and _x005F_", true, true, ""},
        // A NUL once cut the cell short there, in .txt and .xlsx, dropping the rest.
        CellRuleCase{"NulInside", std::string("a\0b", 3), false, false, "holds a NUL character"},
        CellRuleCase{"InvalidUtf8", "bad \xC3(", false, false,
                     "holds text that is not valid UTF-8."},
        // 16,384 emoji are 32,768 UTF-16 units: one more than a workbook cell holds.
        CellRuleCase{"TooManyUtf16Units", repeated("\xF0\x9F\x98\x80", 16384), true, false,
                     "holds more than 32,767 characters"},
        CellRuleCase{"JustFitsInUtf16Units", repeated("\xF0\x9F\x98\x80", 16383) + "x", true, true,
                     ""}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// A target the user may not change stays as it is, whatever the type, and the export says so.
TEST_F(TableExport, ReadOnlyTargetIsReportedAndLeftAlone) {
    for (const std::string name : {"locked.txt", "locked.xls", "locked.xlsx"}) {
        writeBytes(path(name), "old");
        fs::permissions(path(name),
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        const ExportResult result = exportTable(list_, path(name), programTitles);
        EXPECT_FALSE(result.ok) << name;
        EXPECT_NE(result.error.find("read-only"), std::string::npos) << result.error;
        EXPECT_EQ(readBytes(path(name)), "old") << name;
    }
    EXPECT_EQ(entries(), (std::set<std::string>{"locked.txt", "locked.xls", "locked.xlsx"}));
}

} // namespace
} // namespace corvanta::test
