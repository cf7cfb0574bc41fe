#include "export/xls/XlsWorkbook.h"

namespace corvanta {

bool writeXlsWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets,
                      std::string& error) {
    (void)path;
    (void)sheets;
    error = "not implemented yet";
    return false;
}

} // namespace corvanta
