#include "core/ExportCommand.h"

#include "core/ResultsTable.h"
#include "export/DateTimeFormat.h"

namespace corvanta {

std::string defaultExportFileName() {
    return formatDateTime(std::nullopt, 3) + "Bramble指数查询";
}

ExportResult exportResults(const ResultsTable& table, const std::string& path) {
    ExportOptions options;
    options.separator = "|";
    if (table.hasTrendColumns())
        return exportTable(table, path, std::string(kExportTitles) + "|" + kExportTrendTitles,
                           options);
    return exportTable(table, path, kExportTitles, options);
}

} // namespace corvanta
