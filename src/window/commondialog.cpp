#include "commondialog.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QFileDialog>
#include <QGuiApplication>
#include <QStringList>

#include "usersettings.h"

namespace dotmatrix {

namespace {

// "Desc|*.rom|Desc|*.bin" as Qt's name filters. The description is shown as
// it stands; the pattern follows in parentheses and is hidden from view.
QStringList nameFilters(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString pattern = parts[i + 1] == u"*.*" ? QStringLiteral("*") : parts[i + 1];
        filters << parts[i] + QStringLiteral(" (") + pattern + QChar(u')');
    }
    return filters;
}

} // namespace

std::optional<ChosenFile> chooseFile(QWidget* parent, const QString& title, const QString& objectName,
                                     const QStringList& filters, bool save, const QString& folderKey)
{
    QFileDialog dialog(parent, title);
    dialog.setObjectName(objectName);
    dialog.setWindowTitle(title);
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    const QString folder = userSettings()->value(folderKey).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    ChosenFile chosen{dialog.selectedFiles().constFirst(), dialog.selectedNameFilter()};
    userSettings()->setValue(folderKey, QFileInfo(chosen.path).absolutePath());
    return chosen;
}

bool CommonDialog::ShowOpen(QWidget* parent)
{
    return show(parent, false);
}

bool CommonDialog::ShowSave(QWidget* parent)
{
    return show(parent, true);
}

bool CommonDialog::show(QWidget* parent, bool save)
{
#ifdef Q_OS_WIN
    if (save && QGuiApplication::platformName() == QLatin1String("windows")) {
        const QStringList parts = Filter.split(u'|');
        QStringList descriptions;
        QStringList patterns;
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            descriptions << parts[i];
            patterns << parts[i + 1];
        }
        if (const std::optional<QString> chosen = nativeSaveName(parent, descriptions, patterns, FilterIndex, FileName)) {
            if (chosen->isEmpty())
                return false;
            FileName = QDir::fromNativeSeparators(*chosen);
            return true;
        }
    }
#endif
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    // Windows users get the system's own dialog; elsewhere, and in the
    // tests, Qt's, so that what the tests drive is what Linux users see.
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode((Flags & kFileMustExist) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = nameFilters(Filter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.value(std::clamp<qsizetype>(FilterIndex - 1, 0, filters.size() - 1)));
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    else if (!InitDir.isEmpty())
        dialog.setDirectory(InitDir);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}

} // namespace dotmatrix
