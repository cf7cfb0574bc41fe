#include "app/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace corvanta {

namespace {

std::optional<QString>& nextAnswer() {
    static std::optional<QString> answer;
    return answer;
}

// The extension of a pattern such as "*.txt"; empty for "*.*" and the like.
QString extensionOf(const QString& qtFilter) {
    static const QRegularExpression pattern(R"(\(\*\.([A-Za-z0-9]+)\)$)");
    const QRegularExpressionMatch match = pattern.match(qtFilter);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

QStringList qtFileFilters(const QString& filter) {
    QStringList filters;
    const QStringList parts = filter.split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        // The description's own "(*.CSV)" gives way to the pattern that really applies.
        description.remove(QRegularExpression(R"(\([^()]*\)$)"));
        filters << description.trimmed() + " (" + parts[i + 1].trimmed() + ")";
    }
    return filters;
}

void setNextFileDialogAnswer(std::optional<QString> path) {
    nextAnswer() = std::move(path);
}

bool showFileDialog(QWidget* parent, FileDialogSettings& settings) {
    const QStringList filters = qtFileFilters(settings.filter);
    QString chosen;
    if (nextAnswer()) {
        chosen = *nextAnswer();
        nextAnswer().reset();
        if (!chosen.isEmpty() && QFileInfo(chosen).suffix().isEmpty() &&
            settings.kind == FileDialogKind::Save && settings.filterIndex < filters.size()) {
            const QString extension = extensionOf(filters.value(settings.filterIndex));
            if (!extension.isEmpty())
                chosen += "." + extension;
        }
    } else {
        QFileDialog dialog(parent, settings.title);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::ReadOnly, false);
        const bool save = settings.kind == FileDialogKind::Save;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(!save && settings.fileMustExist ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !settings.overwritePrompt);
        if (!settings.initialFolder.isEmpty())
            dialog.setDirectory(settings.initialFolder);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            dialog.selectNameFilter(filters.value(settings.filterIndex));
            dialog.setDefaultSuffix(extensionOf(filters.value(settings.filterIndex)));
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                             [&dialog](const QString& selected) {
                                 dialog.setDefaultSuffix(extensionOf(selected));
                             });
        }
        if (!settings.fileName.isEmpty())
            dialog.selectFile(settings.fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        chosen = dialog.selectedFiles().constFirst();
    }
    if (chosen.isEmpty())
        return false;
    settings.fileName = QDir::toNativeSeparators(QFileInfo(chosen).absoluteFilePath());
    if (!settings.noChangeDir)
        QDir::setCurrent(QFileInfo(chosen).absolutePath());
    return true;
}

} // namespace corvanta
