#pragma once

#include "export/ListSource.h"

#include <functional>
#include <string>
#include <vector>

namespace corvanta {

// Called once per written row with the number of rows and the 1-based row just written.
using ExportProgress = std::function<void(int rowCount, int row)>;

// The pieces of a "|"-joined titles text, in order; none for an empty text.
std::vector<std::string> splitTitles(const std::string& titles);

// Fills columnMap with one entry per title: the zero-based list column whose title equals
// it (blanks trimmed, letter case ignored), or -1 when no column has that title. Returns
// the title line: `titles` with every "|" replaced by `separator`.
std::string buildColumnMap(const ListSource& list, const std::string& titles,
                           const std::string& separator, std::vector<int>& columnMap);

// Writes the list as legacy-code-page text (GB18030, no byte-order mark, CR LF line ends):
// the title line when asked, then one line per row holding each mapped cell followed by
// `separator`, nothing quoted. An existing file is replaced only once the new one is
// complete. Returns the number of fields per line; 0 when `titles` names no field (no
// file is written) and -1 when the file could not be written. `error` holds a readable
// reason whenever the result is not positive.
int writeListText(const ListSource& list, const std::string& fileName, const std::string& titles,
                  const std::string& separator, bool writeTitles, const ExportProgress& progress,
                  std::string& error);

} // namespace corvanta
