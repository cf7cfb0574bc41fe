#pragma once

#include "core/ResultsTable.h"

#include <functional>
#include <string>

namespace corvanta {

enum class Control {
    ThreadCountEdit,
    CookieEdit,
    PeriodCombo,
    ImportButton,
    QueryButton,
    ExportButton,
    TestButton,
};

enum class FileDialogKind { Open, Save };

// The one file dialog of the window; its settings persist from one showing to the next.
struct FileDialogSettings {
    FileDialogKind kind = FileDialogKind::Open;
    std::string title;
    std::string fileName;       // offered name before showing; chosen full path after
    std::string filter;         // "description|pattern|description|pattern"
    int filterIndex = 0;        // zero-based
    std::string initialFolder;
    std::string defaultExtension;
    bool fileMustExist = true;
    bool pathMustExist = true;
    bool overwritePrompt = true;
    bool createPrompt = false;
    bool noChangeDir = false;
};

// Everything the core may do to the window. Any thread may call these; an implementation
// performs each one atomically (the Qt window runs it on its own thread and waits).
class WindowOperations : public ResultsTable {
public:
    // Appends a row of empty cells; its zero-based index, or -1 when none could be added.
    virtual int insertRow() = 0;
    // Replaces one cell's text; a row or column that does not exist is ignored.
    virtual void setCellText(int row, int column, const std::string& text) = 0;
    virtual std::string controlText(Control control) const = 0;
    virtual void setControlEnabled(Control control, bool enabled) = 0;
    // Zero-based selected item of a drop-down list; -1 when none is selected.
    virtual int selectedIndex(Control control) const = 0;
    // Shows the file dialog modally; true when the user chose a file (path in fileName).
    virtual bool showFileDialog() = 0;
    virtual FileDialogSettings& fileDialog() = 0;
    // Shows a message with an OK button and returns once the user closed it.
    virtual void messageBox(const std::string& text) = 0;
    virtual void processPendingEvents() = 0;
    virtual void openInBrowser(const std::string& address) = 0;
    // Runs the routine on a new thread that nobody waits for.
    virtual void startDetachedThread(std::function<void()> routine) = 0;
};

} // namespace corvanta
