#pragma once

#include "export/read/SheetCells.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvanta::listread {

// Reads the worksheets of a BIFF8 (.xls) workbook, or of an .xlsx workbook a password
// protects (to say so), from the compound file held in `bytes`. False with a reason
// sentence (no file name) when the workbook cannot be read.
bool readXls(std::string_view bytes, Budget& budget, std::vector<Sheet>& sheets,
             std::string& reason);

} // namespace corvanta::listread
