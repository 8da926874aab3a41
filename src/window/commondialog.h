#pragma once

#include <optional>

#include <QString>
#include <QStringList>

class QWidget;

namespace dotmatrix {

// The file dialog behind both file buttons. Its settings stay as the last
// caller left them, and it proposes the file name chosen last in either dialog.
class CommonDialog {
public:
    static constexpr int kFileMustExist = 0x1000;
    static constexpr int kHideReadOnly = 0x4;

    int Flags = 0;
    // Alternating descriptions and patterns separated by "|"; "*.*" means every file.
    QString Filter;
    // The 1-based filter entry selected when the dialog opens.
    int FilterIndex = 1;
    // The full path of the file chosen last; empty before the first choice.
    QString FileName;
    // The folder the dialog opens in while no file has been chosen.
    QString InitDir;

    // Shows an open-file dialog; false, with nothing changed, when cancelled.
    [[nodiscard]] bool ShowOpen(QWidget* parent);
    // Shows a save-file dialog; false, with nothing changed, when cancelled.
    [[nodiscard]] bool ShowSave(QWidget* parent);

private:
    bool show(QWidget* parent, bool save);
};

// A file chosen in a dialog of the tool's kind, and the filter it showed.
struct ChosenFile {
    QString path;
    QString filter;
};
// Runs a file dialog titled `title` (Qt's own, but Windows' on Windows) for
// an existing file or, where `save`, any name; it opens in the folder the
// user chose from last time for `folderKey` and remembers the new one.
// Nothing where the user cancelled.
[[nodiscard]] std::optional<ChosenFile> chooseFile(QWidget* parent, const QString& title, const QString& objectName,
                                                   const QStringList& filters, bool save, const QString& folderKey);

// Windows' own save dialog with a name taken as typed: the chosen path, an
// empty one where the user cancelled, nothing where the dialog can't be had.
// Only on Windows.
[[nodiscard]] std::optional<QString> nativeSaveName(QWidget* parent, const QStringList& descriptions,
                                                    const QStringList& patterns, int filterIndex,
                                                    const QString& proposed);

} // namespace dotmatrix
