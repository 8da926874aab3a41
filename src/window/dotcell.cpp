#include "dotcell.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace dotmatrix {

DotCell::DotCell(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setFocusPolicy(Qt::NoFocus);
}

void DotCell::setLit(bool lit)
{
    lit_ = lit;
    update();
}

void DotCell::paintEvent(QPaintEvent* event)
{
    // Painted from the state at every paint, so a palette or theme change
    // shows at once and never takes the lit colour with it.
    QPainter painter(this);
    painter.fillRect(rect(), lit_ ? QColor(255, 0, 0) : palette().color(QPalette::Button));
    painter.end();
    QFrame::paintEvent(event);
}

void DotCell::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
}

void DotCell::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click)
        emit clicked();
}

bool DotCell::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const QString text = toolTipSource_ ? toolTipSource_() : QString();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, this);
        return true;
    }
    return QFrame::event(event);
}

} // namespace dotmatrix
