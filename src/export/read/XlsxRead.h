#pragma once

#include "export/read/SheetCells.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvanta::listread {

// Reads the worksheets of an .xlsx workbook held in `bytes`, in the workbook's order.
// False with a reason sentence (no file name) when the workbook cannot be read.
bool readXlsx(std::string_view bytes, Budget& budget, std::vector<Sheet>& sheets,
              std::string& reason);

} // namespace corvanta::listread
