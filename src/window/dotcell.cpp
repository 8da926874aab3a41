#include "dotcell.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace dotmatrix {

DotCell::DotCell(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
}

void DotCell::setColour(const QColor& colour)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colour);
    setPalette(colours);
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
