#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace corvanta {

enum class FileDialogKind { Open, Save };

// The window's one file dialog: its settings persist from one showing to the next, and
// each use sets only what it needs.
struct FileDialogSettings {
    FileDialogKind kind = FileDialogKind::Open;
    QString title;
    QString fileName; // the name offered before showing; the chosen full path after
    QString filter;   // "description|pattern|description|pattern"; empty: no type list
    int filterIndex = 0;
    QString initialFolder;
    bool fileMustExist = true;
    bool pathMustExist = true;
    bool overwritePrompt = true;
    bool noChangeDir = false; // when false, a confirmed choice becomes the current folder
};

// Shows the dialog modally over `parent` (Qt's own dialog, the same on every platform);
// true when the user confirmed a file, whose full path is then in settings.fileName. A name
// typed without an extension gets the selected file type's extension.
bool showFileDialog(QWidget* parent, FileDialogSettings& settings);

// Tests: the next showFileDialog answers with this path (empty: cancel) without showing.
void setNextFileDialogAnswer(std::optional<QString> path);

// Qt's filter list for a "description|pattern" text: "description (pattern)" entries.
QStringList qtFileFilters(const QString& filter);

} // namespace corvanta
