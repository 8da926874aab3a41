#include "messagebox.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>

#include "applicationname.h"

namespace dotmatrix {

int runBox(QMessageBox& box)
{
    // A box sizes itself to its text alone; "Completed" would cut the title.
    // The title bar's font is the desktop's: the window's, with room to spare,
    // plus the frame's buttons.
    QFont title = box.font();
    title.setBold(true);
    const int width = QFontMetrics(title).horizontalAdvance(box.windowTitle()) * 5 / 4 + 120;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    return box.exec();
}

void warn(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationName), text, QMessageBox::Ok, parent);
    runBox(box);
}

} // namespace dotmatrix
