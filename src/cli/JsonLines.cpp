#include "cli/JsonLines.h"

#include "core/ResultsTable.h"
#include "export/FileReplacement.h"

#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

namespace corvanta::cli {

ExportResult writeJsonLines(const std::string& path,
                            const std::function<void(std::ostream&)>& write) {
    ExportResult result;
    if (path == "-") {
        write(std::cout);
        std::cout.flush();
        result.ok = static_cast<bool>(std::cout);
        if (!result.ok)
            result.error = "standard output could not be written";
        return result;
    }
    FileReplacement file(path);
    if (!file.create(result.error))
        return result;
    {
        std::ofstream out(std::filesystem::path(std::u8string(file.temporaryPath().begin(),
                                                              file.temporaryPath().end())),
                          std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            result.error = "the file could not be opened for writing";
            return result;
        }
        write(out);
        out.flush();
        if (!out) {
            result.error = "the file could not be written (disk full?)";
            return result;
        }
    }
    result.ok = file.commit(result.error);
    return result;
}

std::string queryRowJson(const ResultsTable& table, int row, bool trends) {
    const RowState state = table.rowState(row);
    const QueryStatus status = state.queried ? state.status : QueryStatus::NotQueried;
    nlohmann::ordered_json object;
    object["keyword"] = table.cellText(row, KeywordColumn);
    object["pc"] = table.cellText(row, PcColumn);
    object["mobile"] = table.cellText(row, MobileColumn);
    object["overall"] = table.cellText(row, OverallColumn);
    object["status"] = status == QueryStatus::Ok ? "ok" : statusMark(status);
    object["reason"] = state.queried ? state.reason : std::string("查询已取消");
    if (trends) {
        static constexpr const char* kNames[TrendColumnCount] = {
            "overall_yoy", "overall_qoq", "pc_yoy", "pc_qoq", "mobile_yoy", "mobile_qoq"};
        for (int i = 0; i < TrendColumnCount; ++i)
            object[kNames[i]] = table.cellText(row, FirstTrendColumn + i);
    }
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void writeQueryRows(const ResultsTable& table, bool trends, std::ostream& out) {
    for (int row = 0; row < table.rowCount(); ++row)
        out << queryRowJson(table, row, trends) << '\n';
}

} // namespace corvanta::cli
