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

// Windows' own save dialog with a name taken as typed: the chosen path, an
// empty one where the user cancelled, nothing where the dialog can't be had.
// Only on Windows.
[[nodiscard]] std::optional<QString> nativeSaveName(QWidget* parent, const QStringList& descriptions,
                                                    const QStringList& patterns, int filterIndex,
                                                    const QString& proposed);

} // namespace dotmatrix
