#include "export/ListReader.h"

#include "export/ExportTestSupport.h"
#include "export/FakeTable.h"
#include "export/TableExport.h"
#include "export/read/SheetCells.h"
#include "export/xls/CompoundFile.h"
#include "util/CodePage.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace corvanta::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

const std::string programTitles = "关键词|PC指数|移动指数|总指数";
const std::vector<std::string> titleCells = {"关键词", "PC指数", "移动指数", "总指数"};

class ListReader : public ExportFolder {
protected:
    // Reads `name` from the test folder, expecting success.
    ReadList read(const std::string& name) {
        ReadList list;
        std::string error;
        EXPECT_TRUE(readExportedList(path(name), list, error)) << name << ": " << error;
        return list;
    }

    // Reads `name`, expecting a failure whose message names the file and holds `reason`.
    void expectFailure(const std::string& name, const std::string& reason) {
        ReadList list;
        list.rows = {{"left over"}};
        std::string error;
        EXPECT_FALSE(readExportedList(path(name), list, error)) << name;
        EXPECT_NE(error.find(path(name)), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << name << ": " << error;
        EXPECT_TRUE(error.ends_with(".") && !error.ends_with("..")) << error;
        EXPECT_TRUE(list.rows.empty() && list.titles.empty()) << name;
    }

    // Runs a Python script (from the test folder) that writes `output` with a spreadsheet
    // library, the way a spreadsheet program saves a list.
    void runPython(const std::string& script, const std::string& code, const std::string& output) {
        writeBytes(path(script), code);
        const std::string command = std::string("\"") + CORVANTA_TEST_PYTHON + "\" \"" +
                                    path(script) + "\" \"" + path(output) + "\" 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr) << command;
        std::string printed;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            printed.append(buffer, n);
        ASSERT_EQ(pclose(pipe), 0) << command << "\n" << printed;
    }
};

// ---- round trips through the program's own export ----

// The rows as the list holds them and as they must read back (keyword, PC, mobile, overall).
const Rows resultRows = {
    {"示例", "120", "", "460"},
    {"甲", "cookie无效", "cookie无效", "cookie无效"},
    {"乙", "失败", "失败", "失败"},
    {"丙", "未查询", "未查询", "未查询"},
    {"a|b||c", "1", "2", "3"}, // a keyword holding the separator
    {"|", "", "", ""},
    {"  空格  ", "0", "", ""},
    {"𠀀😀", "5", "6", "11"},     // beyond the BMP: four bytes in GB18030 too
    {"x_x0041_y", "7", "", "7"}, // looks like an .xlsx escape
    {"1234.0", "", "", ""},      // a keyword that looks like a number stays as it is
};

FakeTable resultTable(const Rows& rows) {
    FakeTable table;
    for (const auto& row : rows)
        table.addResult(row[0], row[1], row[2], row[3]);
    return table;
}

class RoundTrip : public ListReader, public ::testing::WithParamInterface<const char*> {};

TEST_P(RoundTrip, ReadsBackWhatTheExportWrote) {
    const std::string name = GetParam();
    FakeTable table = resultTable(resultRows);
    table.addResult(""); // a row without any text: not read back
    table.addResult("末", "1", "1", "2");
    const ExportResult result = exportTable(table, path(name), programTitles);
    ASSERT_TRUE(result.ok) << result.error;

    const ReadList list = read(name);
    Rows expected = resultRows;
    expected.push_back({"末", "1", "1", "2"});
    EXPECT_EQ(list.rows, expected);
    const bool text =
        name.find(".txt") != std::string::npos || name.find(".CSV") != std::string::npos;
    EXPECT_EQ(list.titles, text ? std::vector<std::string>{} : titleCells);
}

TEST_P(RoundTrip, ListLongerThanASheetReadsAsOneList) {
    const std::string name = GetParam();
    Rows rows;
    for (int i = 1; i <= 10; ++i)
        rows.push_back({"词" + std::to_string(i), std::to_string(i * 10), "", "失败"});
    ExportOptions options;
    options.sheetRowLimit = 4; // three list rows and the title row per sheet: four sheets
    const ExportResult result = exportTable(resultTable(rows), path(name), programTitles, options);
    ASSERT_TRUE(result.ok) << result.error;

    const ReadList list = read(name);
    EXPECT_EQ(list.rows, rows);
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values("list.txt", "LIST.CSV", "list.xls", "List.XLSX"));

// ---- text files ----

struct TextCase {
    const char* what;
    std::string bytes;
    Rows rows;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << c.what;
}

const std::string shiLiGb = "\xCA\xBE\xC0\xFD"; // 示例 in GB18030

class TextFiles : public ListReader, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextFiles, ReadAsTheExportMeantThem) {
    const TextCase& c = GetParam();
    writeBytes(path("list.txt"), c.bytes);
    EXPECT_EQ(read("list.txt").rows, c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TextFiles,
    ::testing::Values(TextCase{"GB18030, CR LF",
                               shiLiGb + "|1|2|3|\r\n" + "ab|||\xCA\xA7\xB0\xDC|\r\n",
                               {{"示例", "1", "2", "3"}, {"ab", "", "", "失败"}}},
                      TextCase{"LF line ends, no end at the last line",
                               "a|1|2|3|\nb|4|5|6|",
                               {{"a", "1", "2", "3"}, {"b", "4", "5", "6"}}},
                      TextCase{"UTF-8 with a byte-order mark",
                               "\xEF\xBB\xBF示例|1|2|3|\r\n",
                               {{"示例", "1", "2", "3"}}},
                      TextCase{"UTF-8 without one", "示例|1|2|3|\r\n", {{"示例", "1", "2", "3"}}},
                      TextCase{"empty lines and lines of empty fields skipped",
                               "\r\n\r\na|1|2|3|\r\n||||\r\n\n\r\nb|||\r\n",
                               {{"a", "1", "2", "3"}, {"b", "", "", ""}}},
                      TextCase{"the keyword keeps its bars; the values are the last three fields",
                               "|a||b|||1|2|3|\r\n",
                               {{"|a||b||", "1", "2", "3"}}},
                      TextCase{
                          "a line without the final bar", "a|1|2|3\r\n", {{"a", "1", "2", "3"}}},
                      TextCase{"fewer fields get empty cells up to four",
                               "a|1|\r\nb\r\n",
                               {{"a", "1", "", ""}, {"b", "", "", ""}}},
                      TextCase{"an empty file is an empty list", "", {}}));

// ---- workbooks saved by spreadsheet libraries ----

// openpyxl writes every text to the shared strings and numbers as numeric cells.
TEST_F(ListReader, XlsxSavedBySpreadsheetLibrary) {
    runPython("make.py", R"(
import sys, openpyxl
titles = ["关键词", "PC指数", "移动指数", "总指数"]
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "结果"
ws.append(titles)
ws.append(["示例", 120, 1234.0, 0.1 + 0.2])
ws.append(["cookie无效", "cookie无效", "cookie无效", "cookie无效"])
ws.append(["a|b", None, -5, 1e20])
ws.append(["真", True, 2.5, "失败"])
ws.append([])
ws.append(["后", None, None, None])
ws2 = wb.create_sheet("Sheet2")
ws2.append(titles)
ws2.append(["乙", 7, 8, 15])
ws3 = wb.create_sheet("Sheet3")
ws3.append(["丙", 1, 2, 3])
ws3["F1"] = "far"
wb.save(sys.argv[1])
)",
              "saved.xlsx");
    const ReadList list = read("saved.xlsx");
    EXPECT_EQ(list.titles, titleCells);
    EXPECT_EQ(list.rows, (Rows{{"示例", "120", "1234", "0.3"},
                               {"cookie无效", "cookie无效", "cookie无效", "cookie无效"},
                               {"a|b", "", "-5", "1e+20"},
                               {"真", "TRUE", "2.5", "失败"},
                               {"后", "", "", ""},
                               {"乙", "7", "8", "15"},
                               // no title row on this sheet: its first row is a list row
                               {"丙", "1", "2", "3", "", "far"}}));
}

// What spreadsheet programs write beyond openpyxl: rich-text runs, phonetic runs, escapes,
// cells without references, formula results, prefixed namespaces and absolute targets.
TEST_F(ListReader, XlsxWithRichTextAndOtherForms) {
    runPython("make.py", R"(
import sys, zipfile
main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
parts = {
 "[Content_Types].xml": "<Types xmlns='http://schemas.openxmlformats.org/package/2006/content-types'/>",
 "_rels/.rels": "<Relationships xmlns='http://schemas.openxmlformats.org/package/2006/relationships'>"
   "<Relationship Id='rId1' Type='" + rel + "/officeDocument' Target='xl/workbook.xml'/></Relationships>",
 "xl/workbook.xml": "<x:workbook xmlns:x='" + main + "' xmlns:r='" + rel + "'><x:sheets>"
   "<x:sheet name='A' sheetId='1' r:id='rId7'/><x:sheet name='Chart' sheetId='2' r:id='rId8'/>"
   "</x:sheets></x:workbook>",
 "xl/_rels/workbook.xml.rels": "<Relationships xmlns='http://schemas.openxmlformats.org/package/2006/relationships'>"
   "<Relationship Id='rId7' Type='" + rel + "/worksheet' Target='/xl/worksheets/data.xml'/>"
   "<Relationship Id='rId8' Type='" + rel + "/chartsheet' Target='chartsheets/c.xml'/>"
   "<Relationship Id='rId9' Type='" + rel + "/sharedStrings' Target='./strings.xml'/>"
   "</Relationships>",
 "xl/strings.xml": "<x:sst xmlns:x='" + main + "' count='3' uniqueCount='3'>"
   "<x:si><x:t>关键词</x:t></x:si>"
   "<x:si><x:r><x:rPr><x:b/></x:rPr><x:t>示</x:t></x:r><x:r><x:t xml:space='preserve'>例 </x:t></x:r>"
   "<x:rPh sb='0' eb='1'><x:t>ShiLi</x:t></x:rPh></x:si>"
   "<x:si><x:t>a_x000D_b_x005F_x0041_</x:t></x:si></x:sst>",
 "xl/worksheets/data.xml": "<worksheet xmlns='" + main + "'><sheetData>"
   "<row r='1'><c t='s'><v>0</v></c><c t='inlineStr'><is><t>PC指数</t></is></c>"
   "<c t='str'><f>A1</f><v>移动指数</v></c><c t='s'><v>0</v></c></row>"
   "<row><c r='A2' t='s'><v>1</v></c><c r='C2' t='b'><v>0</v></c><c r='D2' t='e'><v>#N/A</v></c></row>"
   "<row r='4'><c r='A4' t='s'><v>2</v></c><c r='B4'><v>4.0E+2</v></c><c r='D4' s='1'/></row>"
   "</sheetData></worksheet>",
}
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name, text in parts.items():
        z.writestr(name, text)
)",
              "forms.xlsx");
    const ReadList list = read("forms.xlsx");
    EXPECT_EQ(list.titles, (std::vector<std::string>{"关键词", "PC指数", "移动指数", "关键词"}));
    EXPECT_EQ(list.rows, (Rows{{"示例 ", "", "FALSE", "#N/A"}, {"a\rb_x0041_", "400", "", ""}}));
}

std::string xlsKeyword(int i) {
    // Every 50th keyword is long, so that texts run across the records of the string table.
    if (i % 50 != 0)
        return "关键词" + std::to_string(i);
    std::string keyword = "长";
    for (int k = 0; k < 300; ++k)
        keyword += "词";
    return keyword + std::to_string(i);
}

// A quarter's multiple as a spreadsheet shows it.
std::string quarters(int i) {
    static const char* const fractions[] = {"", ".25", ".5", ".75"};
    return std::to_string(i / 4) + fractions[i % 4];
}

// xlwt writes texts to a shared table (continued over several records), numbers as RK or
// NUMBER records and booleans as BOOLERR records.
TEST_F(ListReader, XlsSavedBySpreadsheetLibrary) {
    runPython("make.py", R"(
import sys, xlwt
titles = ["关键词", "PC指数", "移动指数", "总指数"]
def keyword(i):
    return ("长" + "词" * 300 + str(i)) if i % 50 == 0 else "关键词" + str(i)
wb = xlwt.Workbook(encoding="utf-8")
ws = wb.add_sheet("结果")
rows = [titles,
        ["示例", 120, 1234.0, 1234.5678],
        ["cookie无效", "cookie无效", "cookie无效", "cookie无效"],
        ["a|b", None, -5, 1e20],
        ["真", True, 12.34, "失败"],
        [None, None, None, None],
        ["后", None, None, None]]
for r, row in enumerate(rows):
    for c, value in enumerate(row):
        if value is not None:
            ws.write(r, c, value)
ws2 = wb.add_sheet("Sheet2")
for c, title in enumerate(titles):
    ws2.write(0, c, title)
for i in range(1, 601):
    ws2.write(i, 0, keyword(i))
    ws2.write(i, 1, i)
    ws2.write(i, 2, i * 0.25)
    ws2.write(i, 3, "失败" if i % 7 == 0 else "未查询" if i % 11 == 0 else i * 3)
wb.save(sys.argv[1])
)",
              "saved.xls");
    Rows expected = {{"示例", "120", "1234", "1234.5678"},
                     {"cookie无效", "cookie无效", "cookie无效", "cookie无效"},
                     {"a|b", "", "-5", "1e+20"},
                     {"真", "TRUE", "12.34", "失败"},
                     {"后", "", "", ""}};
    for (int i = 1; i <= 600; ++i) {
        std::string last = i % 7 == 0 ? "失败" : i % 11 == 0 ? "未查询" : std::to_string(i * 3);
        expected.push_back({xlsKeyword(i), std::to_string(i), quarters(i), last});
    }
    const ReadList list = read("saved.xls");
    EXPECT_EQ(list.titles, titleCells);
    ASSERT_EQ(list.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(list.rows[i], expected[i]) << "row " << i;
}

// ---- a BIFF workbook built record by record, for the records xlwt does not write ----

std::string le16(std::uint16_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}
std::string le32(std::uint32_t value) {
    return le16(static_cast<std::uint16_t>(value & 0xFFFF)) +
           le16(static_cast<std::uint16_t>(value >> 16));
}
std::string le64(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return le32(static_cast<std::uint32_t>(bits)) + le32(static_cast<std::uint32_t>(bits >> 32));
}
std::string record(std::uint16_t type, const std::string& data) {
    return le16(type) + le16(static_cast<std::uint16_t>(data.size())) + data;
}
std::string wide(std::u16string_view text) {
    std::string bytes;
    for (const char16_t unit : text)
        bytes += le16(unit);
    return bytes;
}
// An XLUnicodeString in UTF-16.
std::string wideString(std::u16string_view text) {
    return le16(static_cast<std::uint16_t>(text.size())) + '\x01' + wide(text);
}
std::string cellHead(int row, int column) {
    return le16(static_cast<std::uint16_t>(row)) + le16(static_cast<std::uint16_t>(column)) +
           le16(15);
}

struct BiffOptions {
    std::uint32_t missingStringIndex = 0; // when set, a cell refers to this string index
};

std::string biffWorkbook(const BiffOptions& options = {}) {
    const std::string bofGlobals = record(0x0809, le16(0x0600) + le16(0x0005) + le32(0) + le32(0));
    const std::string eof = record(0x000A, "");
    // The string table: "关键词"; "abc中" cut after "ab" and continued in UTF-16; a rich
    // "示例" with one formatting run; "失败".
    std::string sst =
        record(0x00FC, le32(5) + le32(4) + wideString(u"关键词") + le16(4) + '\x00' + "ab");
    sst += record(0x003C, std::string("\x01") + wide(u"c中") + le16(2) + '\x09' + le16(1) +
                              wide(u"示例") + le16(0) + le16(0) + wideString(u"失败"));
    auto boundSheet = [](std::uint32_t position, std::uint8_t kind, const std::string& name) {
        return record(0x0085, le32(position) + '\x00' + static_cast<char>(kind) +
                                  static_cast<char>(name.size()) + '\x00' + name);
    };
    const std::size_t globalsSize =
        bofGlobals.size() + 2 * boundSheet(0, 0, "Sheet1").size() + sst.size() + eof.size();

    auto labelSst = [](int row, int column, std::uint32_t index) {
        return record(0x00FD, cellHead(row, column) + le32(index));
    };
    auto rk = [](double value, bool integer, bool hundredths) {
        std::uint32_t bits = 0;
        if (integer)
            bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(value) << 2) | 2u;
        else
            bits = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value) >> 32);
        return bits | (hundredths ? 1u : 0u);
    };
    std::string sheet = record(0x0809, le16(0x0600) + le16(0x0010) + le32(0) + le32(0));
    sheet += labelSst(0, 0, 0);
    sheet += record(0x0204, cellHead(0, 1) + wideString(u"PC指数"));
    sheet += record(0x0204, cellHead(0, 2) + wideString(u"移动指数"));
    sheet += record(0x00D6, cellHead(0, 3) + wideString(u"总指数") + le16(0));
    sheet += labelSst(1, 0, 1);
    sheet += record(0x00BD, le16(1) + le16(1) + le16(15) + le32(rk(120, true, false)) + le16(15) +
                                le32(rk(1234, true, true)) + le16(15) +
                                le32(rk(0.5, false, false)) + le16(3));
    sheet += labelSst(2, 0, options.missingStringIndex != 0 ? options.missingStringIndex : 2);
    sheet += record(0x0203, cellHead(2, 1) + le64(1234.0));
    sheet += record(0x0205, cellHead(2, 2) + '\x01' + '\x00');
    // A formula whose last result is text, held by the STRING record that follows.
    sheet += record(0x0006, cellHead(2, 3) + std::string("\x00\x00\x00\x00\x00\x00\xFF\xFF", 8) +
                                le16(0) + le32(0) + le16(0));
    sheet += record(0x0207, wideString(u"未查询"));
    sheet += labelSst(3, 0, 3);
    sheet += record(0x0205, cellHead(3, 3) + '\x2A' + '\x01');
    // A chart embedded in the sheet: its records are not cells of the list.
    sheet += record(0x0809, le16(0x0600) + le16(0x0020) + le32(0) + le32(0));
    sheet += labelSst(9, 0, 0);
    sheet += eof;
    sheet += eof;

    std::string globals = bofGlobals +
                          boundSheet(static_cast<std::uint32_t>(globalsSize), 0, "Sheet1") +
                          boundSheet(0, 2, "Chart1") + sst + eof;
    return globals + sheet;
}

const Rows biffRows = {
    {"abc中", "120", "12.34", "0.5"}, {"示例", "1234", "TRUE", "未查询"}, {"失败", "", "", "#N/A"}};

// A compound file whose Workbook stream (under 4096 bytes) lives in the mini stream, as
// spreadsheet programs store small workbooks. Sectors: 0 FAT, 1 directory, 2 mini FAT,
// 3... the mini stream.
std::string miniCompoundFile(const std::string& stream) {
    const std::uint32_t free = 0xFFFFFFFF;
    const std::uint32_t end = 0xFFFFFFFE;
    const std::size_t miniSectors = (stream.size() + 63) / 64;
    const std::size_t dataSectors = (miniSectors * 64 + 511) / 512;

    std::string header = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0');
    header += le16(0x3E) + le16(3) + le16(0xFFFE) + le16(9) + le16(6) + std::string(10, '\0');
    header += le32(1) + le32(1) + le32(0) + le32(4096) + le32(2) + le32(1) + le32(end) + le32(0);
    header += le32(0);
    for (int i = 1; i < 109; ++i)
        header += le32(free);

    std::string fat = le32(0xFFFFFFFD) + le32(end) + le32(end);
    for (std::size_t i = 0; i < dataSectors; ++i)
        fat += le32(i + 1 == dataSectors ? end : static_cast<std::uint32_t>(4 + i));
    while (fat.size() < 512)
        fat += le32(free);

    auto entry = [&](std::u16string_view name, std::uint8_t type, std::uint32_t child,
                     std::uint32_t start, std::uint32_t size) {
        std::string bytes = wide(name);
        bytes.resize(64, '\0');
        bytes += le16(static_cast<std::uint16_t>(2 * (name.size() + 1)));
        bytes += static_cast<char>(type);
        bytes += '\x01';
        bytes += le32(free) + le32(free) + le32(child) + std::string(36, '\0');
        bytes += le32(start) + le32(size) + le32(0);
        return bytes;
    };
    std::string directory =
        entry(u"Root Entry", 5, 1, 3, static_cast<std::uint32_t>(miniSectors * 64));
    directory += entry(u"Workbook", 2, free, 0, static_cast<std::uint32_t>(stream.size()));
    directory += entry(u"", 0, free, 0, 0) + entry(u"", 0, free, 0, 0);

    std::string miniFat;
    for (std::size_t i = 0; i < miniSectors; ++i)
        miniFat += le32(i + 1 == miniSectors ? end : static_cast<std::uint32_t>(i + 1));
    while (miniFat.size() < 512)
        miniFat += le32(free);

    std::string data = stream;
    data.resize(dataSectors * 512, '\0');
    return header + fat + directory + miniFat + data;
}

TEST_F(ListReader, XlsRecordsOfEveryKindInTheMiniStream) {
    const std::string stream = biffWorkbook();
    ASSERT_LT(stream.size(), 4096u);
    writeBytes(path("mini.xls"), miniCompoundFile(stream));
    const ReadList list = read("mini.xls");
    EXPECT_EQ(list.titles, titleCells);
    EXPECT_EQ(list.rows, biffRows);
}

TEST_F(ListReader, XlsRecordsOfEveryKindInRegularSectors) {
    const std::string stream = biffWorkbook();
    std::string error;
    ASSERT_TRUE(xls::writeCompoundFile(path("regular.xls"), u"Workbook", {stream}, error)) << error;
    const ReadList list = read("regular.xls");
    EXPECT_EQ(list.titles, titleCells);
    EXPECT_EQ(list.rows, biffRows);
}

// A workbook read by its content, whichever of the two extensions it was saved under.
TEST_F(ListReader, WorkbookUnderTheOtherExtension) {
    FakeTable table = resultTable({{"示例", "1", "2", "3"}});
    ASSERT_TRUE(exportTable(table, path("a.xlsx"), programTitles).ok);
    ASSERT_TRUE(exportTable(table, path("b.xls"), programTitles).ok);
    fs::rename(path("a.xlsx"), path("a.xls"));
    fs::rename(path("b.xls"), path("b.xlsx"));
    EXPECT_EQ(read("a.xls").rows, (Rows{{"示例", "1", "2", "3"}}));
    EXPECT_EQ(read("b.xlsx").rows, (Rows{{"示例", "1", "2", "3"}}));
}

// ---- files that cannot be read ----

struct BrokenCase {
    const char* what;
    const char* name;
    std::function<std::string(const std::string& xls, const std::string& xlsx)> bytes;
    const char* reason;
};

void PrintTo(const BrokenCase& c, std::ostream* out) {
    *out << c.what;
}

void set32(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes.replace(at, 4, le32(value));
}

class BrokenFiles : public ListReader, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenFiles, FailWithAReason) {
    const BrokenCase& c = GetParam();
    FakeTable table = resultTable(resultRows);
    ASSERT_TRUE(exportTable(table, path("good.xls"), programTitles).ok);
    ASSERT_TRUE(exportTable(table, path("good.xlsx"), programTitles).ok);
    writeBytes(path(c.name), c.bytes(readBytes(path("good.xls")), readBytes(path("good.xlsx"))));
    expectFailure(c.name, c.reason);
}

const std::string miniXls = miniCompoundFile(biffWorkbook());

INSTANTIATE_TEST_SUITE_P(
    Damage, BrokenFiles,
    ::testing::Values(
        BrokenCase{"empty .xlsx", "e.xlsx", [](auto&, auto&) { return std::string(); },
                   "the file is empty"},
        BrokenCase{"empty .xls", "e.xls", [](auto&, auto&) { return std::string(); },
                   "the file is empty"},
        BrokenCase{"garbage", "g.xlsx",
                   [](auto&, auto&) { return std::string("not a workbook at all\r\n", 23); },
                   "not an .xls or .xlsx workbook"},
        BrokenCase{"zip cut in half", "cut.xlsx",
                   [](auto&, const std::string& xlsx) { return xlsx.substr(0, xlsx.size() / 2); },
                   "not a complete .xlsx workbook"},
        BrokenCase{"a changed byte in a packed part", "changed.xlsx",
                   [](auto&, const std::string& xlsx) {
                       std::string bytes = xlsx;
                       const std::size_t at = bytes.find("xl/worksheets/sheet1.xml");
                       bytes[at + 24 + 40] = static_cast<char>(bytes[at + 24 + 40] ^ 0x10);
                       return bytes;
                   },
                   "\"xl/worksheets/sheet1.xml\""},
        BrokenCase{"compound file cut in half", "cut.xls",
                   [](const std::string& xls, auto&) { return xls.substr(0, xls.size() / 2); },
                   "container is damaged"},
        BrokenCase{"compound file header alone", "cut.xls",
                   [](const std::string& xls, auto&) { return xls.substr(0, 512); },
                   "container is damaged"},
        BrokenCase{"a sector chain running in a circle", "loop.xls",
                   [](auto&, auto&) {
                       std::string bytes = miniXls;
                       set32(bytes, 512 + 4 * 3, 3); // the mini stream's sector points at itself
                       return bytes;
                   },
                   "container is damaged"},
        BrokenCase{"a mini sector chain running in a circle", "loop.xls",
                   [](auto&, auto&) {
                       std::string bytes = miniXls;
                       set32(bytes, 3 * 512, 0); // the first mini sector points at itself
                       return bytes;
                   },
                   "container is damaged"},
        BrokenCase{"a directory beyond the end", "far.xls",
                   [](auto&, auto&) {
                       std::string bytes = miniXls;
                       set32(bytes, 48, 0x00FFFFFF);
                       return bytes;
                   },
                   "container is damaged"},
        BrokenCase{"a cell referring past the string table", "index.xls",
                   [](auto&, auto&) {
                       BiffOptions options;
                       options.missingStringIndex = 99;
                       return miniCompoundFile(biffWorkbook(options));
                   },
                   "refers to a text the workbook does not have"},
        BrokenCase{"a compound file without a workbook", "other.xls",
                   [](auto&, auto&) {
                       std::string bytes = miniXls;
                       bytes.replace(512 * 2 + 128, 16, wide(u"WordDocu"));
                       return bytes;
                   },
                   "no workbook stream"},
        BrokenCase{"a text file holding binary data", "bin.txt",
                   [](const std::string& xls, auto&) { return xls; }, "binary data"},
        BrokenCase{"an extension the program does not export", "list.doc",
                   [](auto&, auto&) { return std::string("a|1|2|3|\r\n"); }, "not a list file"}));

TEST_F(ListReader, MissingFileAndFolderFailWithAReason) {
    expectFailure("missing.xlsx", "does not exist");
    fs::create_directories(path("folder.txt"));
    expectFailure("folder.txt", "folder");
}

// Workbooks made to hurt a reader: each one is refused with its reason. The script writes
// one .xlsx per case, named by the case, beside the file named on its command line.
TEST_F(ListReader, HostileXlsxRefused) {
    runPython("make.py", R"(
import os, sys, zipfile
folder = os.path.dirname(sys.argv[1])
main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
def book(name, sheet, strings=None):
    parts = {
        "xl/workbook.xml": "<workbook xmlns='" + main + "' xmlns:r='" + rel + "'><sheets>"
                           "<sheet name='A' sheetId='1' r:id='rId1'/></sheets></workbook>",
        "xl/_rels/workbook.xml.rels":
            "<Relationships xmlns='http://schemas.openxmlformats.org/package/2006/relationships'>"
            "<Relationship Id='rId1' Type='" + rel + "/worksheet' Target='worksheets/s.xml'/>"
            "<Relationship Id='rId2' Type='" + rel + "/sharedStrings' Target='strings.xml'/>"
            "</Relationships>",
        "xl/strings.xml": strings or "<sst xmlns='" + main + "'><si><t>a</t></si></sst>",
        "xl/worksheets/s.xml": "<worksheet xmlns='" + main + "'><sheetData>" + sheet +
                               "</sheetData></worksheet>"}
    with zipfile.ZipFile(os.path.join(folder, name), "w", zipfile.ZIP_DEFLATED) as z:
        for part, text in parts.items():
            z.writestr(part, text)
laughs = ("<!DOCTYPE s [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;'>]>"
          "<sst xmlns='" + main + "'><si><t>&b;</t></si></sst>")
book("laughs.xlsx", "<row r='1'><c r='A1' t='s'><v>0</v></c></row>", laughs)
book("huge-tag.xlsx", "<row r='1'><c r='A1' x='" + "y" * (3 << 20) + "'><v>1</v></c></row>")
book("huge-text.xlsx", "<row r='1'><c r='A1' t='inlineStr'><is><t>" + "z" * 300000 + "</t></is></c></row>")
book("far-row.xlsx", "<row r='1048577'><c t='s'><v>0</v></c></row>")
book("far-cell.xlsx", "<row r='1'><c r='XFE1' t='s'><v>0</v></c></row>")
book("no-string.xlsx", "<row r='1'><c r='A1' t='s'><v>1</v></c></row>")
book("not-xml.xlsx", "<row r='1'><c r='A1'><v>1</v></row>")
with zipfile.ZipFile(os.path.join(folder, "readme.xlsx"), "w") as z:
    z.writestr("readme.txt", "hello")
)",
              "unused");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"laughs.xlsx", "document type declaration"},
        {"huge-tag.xlsx", "XML item larger than 1 MiB"},
        {"huge-text.xlsx", "more text than a workbook cell can"},
        {"far-row.xlsx", "row outside the rows a sheet can hold"},
        {"far-cell.xlsx", "\"XFE1\", which is not a place a sheet has"},
        {"no-string.xlsx", "refers to a shared text the workbook does not have"},
        {"not-xml.xlsx", "not well-formed XML"},
        {"readme.xlsx", "not an .xlsx workbook"},
    };
    for (const auto& [name, reason] : cases)
        expectFailure(name, reason);
}

// A sheet whose cells lie far to the right would take a row of empty cells each: the
// padding counts against the memory a list may take, so such a sheet fails early.
TEST(ListAssembly, PaddingCountsAgainstTheMemoryLimit) {
    auto sheetAt = [](std::uint32_t column) {
        listread::Sheet sheet;
        for (std::uint32_t row = 0; row < 100; ++row)
            sheet.cells.push_back({row, column, "x"});
        return std::vector<listread::Sheet>{sheet};
    };
    for (const auto& [column, fits] : {std::pair{3u, true}, std::pair{16383u, false}}) {
        std::vector<listread::Sheet> sheets = sheetAt(column);
        listread::Budget budget(1 << 20);
        ReadList list;
        std::string reason;
        EXPECT_EQ(listread::assembleList(sheets, budget, list, reason), fits) << column;
        EXPECT_EQ(reason, fits ? "" : listread::tooLarge) << column;
    }
}

// Every cut and every changed byte of a workbook either reads or fails with a reason:
// no crash, no endless loop (run under the address sanitizer to see more).
TEST_F(ListReader, DamagedWorkbooksNeverCrash) {
    FakeTable table = resultTable(resultRows);
    ASSERT_TRUE(exportTable(table, path("good.xls"), programTitles).ok);
    ASSERT_TRUE(exportTable(table, path("good.xlsx"), programTitles).ok);
    const std::vector<std::pair<std::string, std::string>> originals = {
        {"d.xls", readBytes(path("good.xls"))},
        {"d.xlsx", readBytes(path("good.xlsx"))},
        {"m.xls", miniXls}};
    for (const auto& [name, good] : originals) {
        std::vector<std::string> variants;
        for (std::size_t size = 0; size < good.size(); size += 37)
            variants.push_back(good.substr(0, size));
        for (std::size_t at = 0; at < good.size(); at += 29) {
            std::string changed = good;
            changed[at] = static_cast<char>(changed[at] ^ (at % 2 == 0 ? 0xFF : 0x41));
            variants.push_back(changed);
        }
        for (std::size_t i = 0; i < variants.size(); ++i) {
            writeBytes(path(name), variants[i]);
            ReadList list;
            std::string error;
            if (!readExportedList(path(name), list, error)) {
                EXPECT_NE(error.find(path(name)), std::string::npos) << name << " " << i;
                EXPECT_TRUE(list.rows.empty()) << name << " " << i;
            }
        }
    }
}

} // namespace
} // namespace corvanta::test
