#include "export/xls/XlsWorkbook.h"

#include "XlsReadBack.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace corvanta {
namespace {

using test::jsonQuote;
using test::readXls;
using test::ScratchFolder;
using test::XlsReadBack;
using Rows = std::vector<std::vector<std::string>>;

const std::vector<std::string> listTitles = {"关键词", "PC指数", "移动指数", "总指数"};

WorkbookSheet tableSheet(std::string name, std::vector<std::string> titles, Rows rows,
                         int columnCount = -1) {
    auto table = std::make_shared<const Rows>(std::move(rows));
    WorkbookSheet sheet;
    sheet.name = std::move(name);
    sheet.titles = std::move(titles);
    sheet.rowCount = static_cast<int>(table->size());
    sheet.columnCount = columnCount >= 0 ? columnCount
                        : table->empty() ? static_cast<int>(sheet.titles.size())
                                         : static_cast<int>(table->front().size());
    sheet.cell = [table](int row, int column) {
        const auto& cells = (*table)[static_cast<std::size_t>(row)];
        return static_cast<std::size_t>(column) < cells.size()
                   ? cells[static_cast<std::size_t>(column)]
                   : std::string();
    };
    return sheet;
}

// A sheet of generated rows: cell (r, c) is "r:c".
WorkbookSheet generatedSheet(std::string name, bool titled, int rowCount, int columnCount) {
    WorkbookSheet sheet;
    sheet.name = std::move(name);
    if (titled) {
        sheet.titles.assign(static_cast<std::size_t>(columnCount), "标题");
    }
    sheet.rowCount = rowCount;
    sheet.columnCount = columnCount;
    sheet.cell = [](int row, int column) {
        return std::to_string(row) + ":" + std::to_string(column);
    };
    return sheet;
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

class XlsWorkbookTest : public ::testing::Test {
protected:
    // Writes the sheets and reads them back, failing the test when either step fails.
    XlsReadBack writeAndRead(const std::vector<WorkbookSheet>& sheets) {
        const auto path = folder.file("book.xls");
        std::string error;
        EXPECT_TRUE(writeXlsWorkbook(path.string(), sheets, error)) << error;
        XlsReadBack book = readXls(path);
        EXPECT_EQ(book.exitCode, 0) << book.output.substr(0, 4000);
        EXPECT_TRUE(book.logs.empty()) << book.logs.front();
        return book;
    }

    ScratchFolder folder;
};

TEST_F(XlsWorkbookTest, ListRowsReadBackAsTextCellsAfterTheTitleRow) {
    const Rows rows = {
        {"示例", "120", "340", "460"},
        {"未查询", "", "", ""},
        {"0012", "1e3", "-5.50", "TRUE"},
    };
    const XlsReadBack book = writeAndRead({tableSheet("结果", listTitles, rows)});

    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].name, jsonQuote("结果"));
    EXPECT_EQ(book.sheets[0].rows, 4);
    EXPECT_EQ(book.sheets[0].columns, 4);
    for (int c = 0; c < 4; ++c) {
        const auto* title = book.cell(0, 0, c);
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->type, "text");
        EXPECT_EQ(title->value, jsonQuote(listTitles[static_cast<std::size_t>(c)]));
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            const auto* cell = book.cell(0, r + 1, c);
            ASSERT_NE(cell, nullptr) << r << "," << c;
            const std::string& text =
                rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            // Numbers stay text; an empty field is an empty cell, not an empty string.
            EXPECT_EQ(cell->type, text.empty() ? "empty" : "text") << r << "," << c;
            EXPECT_EQ(cell->value, jsonQuote(text)) << r << "," << c;
        }
    }
}

TEST_F(XlsWorkbookTest, EveryCellCarriesTheHouseStyle) {
    const XlsReadBack book =
        writeAndRead({tableSheet("结果", listTitles, {{"示例", "120", "340", "460"}})});
    ASSERT_EQ(book.sheets.size(), 1u);

    const auto* title = book.cell(0, 0, 0);
    const auto* body = book.cell(0, 1, 0);
    ASSERT_TRUE(title != nullptr && body != nullptr);
    // Thin (1) black borders on all four sides, centred both ways (2 and 1), 11 points.
    const std::string common = "borders 1 1 1 1 bordercolours 000000 000000 000000 000000 "
                               "halign 2 valign 1";
    EXPECT_EQ(book.xfs.at(title->xf), "font \"微软雅黑\" height 220 colour ffffff fill 1 "
                                      "fillcolour 008000 " +
                                          common + " format \"@\"");
    EXPECT_EQ(book.xfs.at(body->xf).rfind("font \"微软雅黑\" height 220 colour 000000 fill 0 ", 0),
              0u)
        << book.xfs.at(body->xf);
    EXPECT_NE(book.xfs.at(body->xf).find(common), std::string::npos) << book.xfs.at(body->xf);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(book.cell(0, r, c)->xf, r == 0 ? title->xf : body->xf);
        }
    }

    // Every column is formatted, so that empty cells show borders and the font too.
    for (int c = 0; c < 256; ++c) {
        const auto column = book.columns.find({0, c});
        ASSERT_NE(column, book.columns.end()) << "column " << c;
        if (c < 4) {
            EXPECT_EQ(column->second.width, 4790) << "column " << c; // 18 characters, padded
        }
        const std::string& xf = book.xfs.at(column->second.xf);
        EXPECT_NE(xf.find("font \"微软雅黑\" height 220 colour 000000"), std::string::npos) << xf;
        EXPECT_NE(xf.find(common), std::string::npos) << "column " << c << ": " << xf;
    }

    // 20 points everywhere: the written rows and the default for all others.
    EXPECT_EQ(book.sheets[0].defaultRowHeight, 400);
    EXPECT_TRUE(book.sheets[0].defaultRowMismatch);
    for (int r = 0; r < 2; ++r) {
        ASSERT_EQ(book.rows.count({0, r}), 1u);
        EXPECT_EQ(book.rows.at({0, r}).height, 400);
        EXPECT_TRUE(book.rows.at({0, r}).mismatch);
    }
}

TEST_F(XlsWorkbookTest, TextOfAnyScriptAndLengthSurvives) {
    const std::string grin = "\xF0\x9F\x98\x80"; // U+1F600
    const std::string extB = "\xF0\xA0\x80\x80"; // U+20000
    const std::string fffd = "\xEF\xBF\xBD";     // U+FFFD
    struct Case {
        std::string written;
        std::string read;
    };
    const std::vector<Case> cases = {
        // First in the table on purpose: one code unit before the pairs puts a high
        // surrogate at the end of the first SST record, where the text must not be cut.
        {"a" + repeat(grin, 5000), ""},
        {repeat(grin, 5000), ""},
        {"plain ASCII", ""},
        {"café über naïve", ""}, // Latin-1, stored one byte per character
        {"中文关键词", ""},
        {grin + " " + extB + " mixed 中文", ""},
        {"tab\tnew\nline \"quoted\" back\\slash", ""},
        {repeat("长", 5000), ""},         // 10,000 bytes of UTF-16: longer than one record
        {repeat("x", 20000), ""},         // compressed, still spread over three records
        {repeat("y", 32767), ""},         // the most a cell can hold
        {repeat("中", 32765) + grin, ""}, // ends in a pair, exactly at the limit
        // U+FFFE and U+FFFF are characters like any other here.
        {"non\xEF\xBF\xBE"
         "characters\xEF\xBF\xBF",
         ""},
        {"_x0041_ stays as written", ""},
    };
    Rows rows;
    for (const Case& c : cases) {
        rows.push_back({c.written});
    }
    const XlsReadBack book = writeAndRead({tableSheet("文本", {}, rows)});
    ASSERT_EQ(book.sheets.size(), 1u);
    ASSERT_EQ(book.sheets[0].rows, static_cast<int>(cases.size()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto* cell = book.cell(0, static_cast<int>(i), 0);
        ASSERT_NE(cell, nullptr) << "case " << i;
        EXPECT_EQ(cell->type, "text") << "case " << i;
        const std::string& expected = cases[i].read.empty() ? cases[i].written : cases[i].read;
        EXPECT_TRUE(cell->value == jsonQuote(expected))
            << "case " << i << " reads back as " << cell->value.substr(0, 200);
    }
}

// 30,000 distinct texts (several hundred KB of strings, so dozens of CONTINUE records),
// each used twice, in varying lengths and both storage widths.
constexpr int stringCount = 30000;

std::string numberedText(int i) {
    std::string t = (i % 3 == 0 ? "关键词" : "keyword") + std::to_string(i);
    return t + std::string(static_cast<std::size_t>(i % 17), i % 2 == 0 ? 'a' : 'b');
}

WorkbookSheet manyStringsSheet() {
    WorkbookSheet sheet;
    sheet.name = "strings";
    sheet.rowCount = stringCount;
    sheet.columnCount = 2;
    sheet.cell = [](int row, int column) {
        return numberedText(column == 0 ? row : stringCount - 1 - row);
    };
    return sheet;
}

TEST_F(XlsWorkbookTest, LargeSharedStringTableKeepsEveryString) {
    const XlsReadBack book = writeAndRead({manyStringsSheet()});
    ASSERT_EQ(book.sheets.size(), 1u);
    ASSERT_EQ(book.sheets[0].rows, stringCount);
    for (int r = 0; r < stringCount; ++r) {
        ASSERT_EQ(book.cell(0, r, 0)->value, jsonQuote(numberedText(r))) << "row " << r;
        ASSERT_EQ(book.cell(0, r, 1)->value, jsonQuote(numberedText(stringCount - 1 - r)))
            << "row " << r;
    }
}

struct Record {
    std::uint16_t type = 0;
    std::size_t start = 0; // of the 4-byte header, in the stream
    std::string_view data;
};

std::uint32_t littleEndian(std::string_view bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

// The records of one substream, from `start` up to and including its EOF.
std::vector<Record> substream(std::string_view stream, std::size_t start) {
    std::vector<Record> records;
    std::size_t at = start;
    while (at + 4 <= stream.size()) {
        Record record;
        record.type = static_cast<std::uint16_t>(littleEndian(stream, at, 2));
        record.start = at;
        const std::size_t length = littleEndian(stream, at + 2, 2);
        if (at + 4 + length > stream.size()) {
            break;
        }
        record.data = stream.substr(at + 4, length);
        records.push_back(record);
        at += 4 + length;
        if (record.type == 0x000A) {
            break;
        }
    }
    return records;
}

std::size_t utf16Length(const std::string& utf8) {
    std::size_t units = 0;
    for (char c : utf8) {
        units += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return units; // the texts used here are all in the BMP
}

TEST_F(XlsWorkbookTest, RecordsKeepToTheSizeLimitAndTheStringIndexPointsAtItsStrings) {
    const auto path = folder.file("strings.xls");
    std::string error;
    ASSERT_TRUE(writeXlsWorkbook(path.string(), {manyStringsSheet(), manyStringsSheet()}, error))
        << error;
    int exitCode = -1;
    const std::string output =
        test::extractWorkbookStream(path, folder.file("stream"), exitCode);
    ASSERT_EQ(exitCode, 0) << output;
    std::ifstream in(folder.file("stream"), std::ios::binary);
    const std::string stream{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    const std::vector<Record> globals = substream(stream, 0);
    ASSERT_FALSE(globals.empty());
    ASSERT_EQ(globals.back().type, 0x000A);
    std::vector<Record> all = globals;
    std::vector<std::size_t> sheetStarts;
    for (const Record& record : globals) {
        if (record.type == 0x0085) { // BOUNDSHEET
            sheetStarts.push_back(littleEndian(record.data, 0, 4));
        }
    }
    ASSERT_EQ(sheetStarts.size(), 2u);
    for (std::size_t start : sheetStarts) {
        const std::vector<Record> sheet = substream(stream, start);
        ASSERT_FALSE(sheet.empty());
        EXPECT_EQ(sheet.front().type, 0x0809);                    // BOF
        EXPECT_EQ(littleEndian(sheet.front().data, 2, 2), 0x10u); // of a worksheet
        EXPECT_EQ(sheet.back().type, 0x000A);
        all.insert(all.end(), sheet.begin(), sheet.end());
    }
    for (const Record& record : all) {
        ASSERT_LE(record.data.size(), 8224u) << "record " << record.type << " at " << record.start;
    }

    // The SST and the CONTINUE records after it hold the strings; EXTSST points at every
    // dsst-th of them by stream position and by offset within its record.
    std::vector<Record> table;
    const Record* index = nullptr;
    for (std::size_t i = 0; i < globals.size(); ++i) {
        if (globals[i].type == 0x00FC) {
            table.push_back(globals[i]);
            while (i + 1 < globals.size() && globals[i + 1].type == 0x003C) {
                table.push_back(globals[++i]);
            }
        } else if (globals[i].type == 0x00FF) {
            index = &globals[i];
        }
    }
    ASSERT_GT(table.size(), 20u);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(littleEndian(table[0].data, 0, 4), 4u * stringCount); // references
    EXPECT_EQ(littleEndian(table[0].data, 4, 4), 1u * stringCount); // distinct strings
    const std::size_t perBucket = littleEndian(index->data, 0, 2);
    ASSERT_GE(perBucket, 8u);
    const std::size_t buckets = (index->data.size() - 2) / 8;
    EXPECT_EQ(buckets, (stringCount + perBucket - 1) / perBucket);
    for (std::size_t k = 0; k < buckets; ++k) {
        const std::size_t position = littleEndian(index->data, 2 + 8 * k, 4);
        const std::size_t offset = littleEndian(index->data, 6 + 8 * k, 2);
        const auto holder = std::find_if(table.begin(), table.end(), [&](const Record& r) {
            return position >= r.start + 4 && position + 3 <= r.start + 4 + r.data.size();
        });
        ASSERT_NE(holder, table.end()) << "bucket " << k;
        EXPECT_EQ(offset, position - holder->start) << "bucket " << k;
        // Strings appear in the order of first use: rows alternate between both ends.
        const std::size_t j = k * perBucket;
        const int number =
            j % 2 == 0 ? static_cast<int>(j / 2) : stringCount - 1 - static_cast<int>(j / 2);
        EXPECT_EQ(littleEndian(stream, position, 2), utf16Length(numberedText(number)))
            << "bucket " << k;
    }
}

TEST_F(XlsWorkbookTest, SeveralSheetsEachKeepTheirOwnRows) {
    const std::vector<WorkbookSheet> sheets = {
        tableSheet("第一", listTitles, {{"a", "1", "2", "3"}}),
        generatedSheet("second", true, 1000, 4),
        tableSheet("third", listTitles, {}),
        generatedSheet("fourth", false, 70, 3),
    };
    const XlsReadBack book = writeAndRead(sheets);
    ASSERT_EQ(book.sheets.size(), 4u);
    const int rows[] = {2, 1001, 1, 70};
    const char* names[] = {"第一", "second", "third", "fourth"};
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(book.sheets[s].name, jsonQuote(names[s]));
        EXPECT_EQ(book.sheets[s].rows, rows[s]) << names[s];
    }
    EXPECT_EQ(book.cell(0, 1, 0)->value, jsonQuote("a"));
    EXPECT_EQ(book.cell(1, 1000, 3)->value, jsonQuote("999:3"));
    EXPECT_EQ(book.cell(2, 0, 2)->value, jsonQuote("移动指数"));
    EXPECT_EQ(book.cell(3, 0, 0)->value, jsonQuote("0:0"));
    EXPECT_EQ(book.cell(3, 69, 2)->value, jsonQuote("69:2"));
    EXPECT_EQ(book.sheets[3].columns, 3);
}

TEST_F(XlsWorkbookTest, SheetNamesAreMadeValidAndUnique) {
    struct Case {
        std::string given;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"a/b\\c?d*e[f]g:h", "a_b_c_d_e_f_g_h"},
        {"", "Sheet3"}, // named after its position
        {"'quoted'", "quoted"},
        {"Data", "Data"},
        {"DATA", "DATA (2)"},
        {"data", "data (3)"},
        {repeat("名", 40), repeat("名", 31)},
        {repeat("名", 40) + "x", repeat("名", 27) + " (2)"},
    };
    std::vector<WorkbookSheet> sheets;
    sheets.push_back(tableSheet("first", {}, {{"x"}}));
    for (const Case& c : cases) {
        sheets.push_back(tableSheet(c.given, {}, {{"x"}}));
    }
    const XlsReadBack book = writeAndRead(sheets);
    ASSERT_EQ(book.sheets.size(), cases.size() + 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(book.sheets[i + 1].name, jsonQuote(cases[i].written))
            << "given " << cases[i].given;
    }
}

TEST_F(XlsWorkbookTest, FullSheetOf65536RowsReadsBack) {
    const XlsReadBack book = writeAndRead({generatedSheet("full", true, 65535, 2)});
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].rows, 65536);
    EXPECT_EQ(book.cell(0, 0, 1)->value, jsonQuote("标题"));
    EXPECT_EQ(book.cell(0, 32768, 0)->value, jsonQuote("32767:0"));
    EXPECT_EQ(book.cell(0, 65535, 1)->value, jsonQuote("65534:1"));
    EXPECT_EQ(book.rows.at({0, 65535}).height, 400);
}

TEST_F(XlsWorkbookTest, RejectsWhatAnXlsSheetCannotHold) {
    struct Case {
        const char* what;
        std::vector<WorkbookSheet> sheets;
        bool accepted;
    };
    WorkbookSheet manyTitles = generatedSheet("titles", false, 1, 4);
    manyTitles.titles.assign(257, "t");
    WorkbookSheet negative = generatedSheet("negative", true, -1, 4);
    WorkbookSheet noCells = generatedSheet("no cells", true, 3, 4);
    noCells.cell = nullptr;
    const std::vector<Case> cases = {
        {"65536 rows and a title row", {generatedSheet("big", true, 65536, 1)}, false},
        {"65536 untitled rows", {generatedSheet("big", false, 65536, 1)}, true},
        {"65535 rows and a title row", {generatedSheet("big", true, 65535, 1)}, true},
        {"too many rows on a later sheet",
         {generatedSheet("ok", true, 5, 4), generatedSheet("big", false, 65537, 1)},
         false},
        {"256 columns", {generatedSheet("wide", true, 2, 256)}, true},
        {"257 columns", {generatedSheet("wide", false, 2, 257)}, false},
        {"257 titles", {manyTitles}, false},
        {"a negative row count", {negative}, false},
        {"rows without a cell source", {noCells}, false},
        {"no sheet at all", {}, false},
    };
    for (const Case& c : cases) {
        const auto path = folder.file("limits.xls");
        std::filesystem::remove(path);
        std::string error;
        const bool written = writeXlsWorkbook(path.string(), c.sheets, error);
        EXPECT_EQ(written, c.accepted) << c.what << ": " << error;
        EXPECT_EQ(std::filesystem::exists(path), c.accepted) << c.what;
        EXPECT_EQ(error.empty(), c.accepted) << c.what << ": " << error;
    }
}

TEST_F(XlsWorkbookTest, TheCellSourceIsAskedOncePerCellInRowOrder) {
    WorkbookSheet sheet = generatedSheet("order", true, 50, 3);
    auto calls = std::make_shared<std::vector<std::pair<int, int>>>();
    sheet.cell = [calls](int row, int column) {
        calls->emplace_back(row, column);
        return std::string("v");
    };
    std::string error;
    ASSERT_TRUE(writeXlsWorkbook(folder.file("order.xls").string(), {sheet}, error)) << error;
    ASSERT_EQ(calls->size(), 150u);
    for (std::size_t i = 0; i < calls->size(); ++i) {
        EXPECT_EQ((*calls)[i], std::make_pair(static_cast<int>(i / 3), static_cast<int>(i % 3)));
    }
}

TEST_F(XlsWorkbookTest, AFailingCellSourceLeavesNoFile) {
    WorkbookSheet sheet = generatedSheet("s", true, 100, 4);
    sheet.cell = [](int row, int column) {
        if (row == 60 && column == 2) {
            throw std::runtime_error("row 60 is gone");
        }
        return std::string("v");
    };
    const auto path = folder.file("broken.xls");
    std::string error;
    EXPECT_FALSE(writeXlsWorkbook(path.string(), {sheet}, error));
    EXPECT_NE(error.find("row 60 is gone"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(path));
}

// Text that is not UTF-8 is refused, as by every writer, rather than changed.
TEST_F(XlsWorkbookTest, TextThatIsNotUtf8IsRefusedNamingTheCell) {
    for (const std::string& text :
         {std::string("bad \xFF\xFE byte"), std::string("cut \xE4\xB8"),
          std::string("overlong \xC0\xAF"), std::string("surrogate \xED\xA0\x80")}) {
        WorkbookSheet sheet = generatedSheet("bad", true, 3, 4);
        sheet.cell = [text](int row, int column) {
            return row == 1 && column == 2 ? text : std::string("v");
        };
        const auto path = folder.file("bad.xls");
        std::string error;
        EXPECT_FALSE(writeXlsWorkbook(path.string(), {sheet}, error));
        EXPECT_EQ(error, "Cell C3 holds text that is not valid UTF-8.");
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(XlsWorkbookTest, TextLongerThanACellIsRefusedNotCut) {
    const std::string grin = "\xF0\x9F\x98\x80"; // two code units
    for (const std::string& text : {repeat("y", 32768), repeat("中", 32766) + grin}) {
        WorkbookSheet sheet = generatedSheet("long", true, 3, 4);
        sheet.cell = [text](int row, int column) {
            return row == 1 && column == 2 ? text : std::string("v");
        };
        const auto path = folder.file("long.xls");
        std::string error;
        EXPECT_FALSE(writeXlsWorkbook(path.string(), {sheet}, error));
        EXPECT_EQ(error.find("Cell C3 holds more than 32,767 characters"), 0u) << error;
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(XlsWorkbookTest, ReportsFilesThatCannotBeWritten) {
    const std::vector<WorkbookSheet> sheets = {generatedSheet("s", true, 10, 4)};
    std::string error;
    const auto missingFolder = folder.file("missing") / "book.xls";
    EXPECT_FALSE(writeXlsWorkbook(missingFolder.string(), sheets, error));
    EXPECT_EQ(error, "The folder \"" + missingFolder.parent_path().string() + "\" does not exist.");

    error.clear();
    std::filesystem::create_directory(folder.file("a folder"));
    EXPECT_FALSE(writeXlsWorkbook(folder.file("a folder").string(), sheets, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("a folder")));
}

TEST_F(XlsWorkbookTest, AFullDiskIsAFailureNotASuccess) {
    // A device of our own that behaves like /dev/full: every write fails with ENOSPC.
    const auto full = folder.file("full");
    if (::mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "cannot create a full-disk device here";
    }
    std::string error;
    EXPECT_FALSE(writeXlsWorkbook(full.string(), {generatedSheet("s", true, 10, 4)}, error));
    EXPECT_NE(error.find("The disk is full"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::exists(full)) << "a device must not be removed";
}

TEST_F(XlsWorkbookTest, AnExistingFileIsReplacedCompletely) {
    const auto path = folder.file("old.xls");
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(3 * 1024 * 1024, 'z');
    }
    std::string error;
    ASSERT_TRUE(writeXlsWorkbook(path.string(), {tableSheet("s", listTitles, {})}, error)) << error;
    EXPECT_LT(std::filesystem::file_size(path), 64u * 1024);
    const XlsReadBack book = readXls(path);
    ASSERT_EQ(book.exitCode, 0) << book.output;
    EXPECT_EQ(book.sheets.at(0).rows, 1);
}

} // namespace
} // namespace corvanta
