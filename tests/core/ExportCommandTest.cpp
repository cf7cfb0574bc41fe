#include "core/ExportCommand.h"

#include "CoreTestSupport.h"
#include "core/ResultsTable.h"

#include <gtest/gtest.h>
#include <regex>

namespace corvanta {
namespace {

TEST(ExportCommand, WritesKeywordAndTheThreeValuesOfEveryRow) {
    ResultsTable table;
    table.appendKeywords({"\xE4\xB8\xAD\xE5\x9B\xBD", "b"});
    QueryOutcome ok;
    ok.status = QueryStatus::Ok;
    ok.pc = "120";
    ok.mobile = "340";
    ok.overall = "460";
    table.setOutcome(0, ok);
    test::TempFolder folder;
    const std::string path = folder.path("out.csv");
    ASSERT_TRUE(exportResults(table, path).ok);
    EXPECT_EQ(test::readFile(path), "\xD6\xD0\xB9\xFA|120|340|460|\r\nb||||\r\n");

    table.setOutcome(1, failedOutcome(QueryStatus::CookieRefused, "not login"));
    ASSERT_TRUE(exportResults(table, path).ok);
    EXPECT_EQ(test::readFile(path),
              "\xD6\xD0\xB9\xFA|120|340|460|\r\nb|cookie\xCE\xDE\xD0\xA7|cookie\xCE\xDE\xD0\xA7|"
              "cookie\xCE\xDE\xD0\xA7|\r\n");
}

TEST(ExportCommand, FailuresComeBackWithAReason) {
    ResultsTable table;
    test::TempFolder folder;
    for (const std::string& path :
         {folder.path("no-such-folder/out.txt"), folder.path("out.doc"), folder.path("out")}) {
        const ExportResult result = exportResults(table, path);
        EXPECT_FALSE(result.ok) << path;
        EXPECT_FALSE(result.error.empty()) << path;
    }
}

TEST(ExportCommand, OffersTheDateAndTimeAsTheFileName) {
    EXPECT_TRUE(std::regex_match(defaultExportFileName(), std::regex("[0-9]{14}Bramble指数查询")))
        << defaultExportFileName();
}

} // namespace
} // namespace corvanta
