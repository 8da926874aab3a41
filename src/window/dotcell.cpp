#include "dotcell.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace dotmatrix {

namespace {

// A cell as a screen reader sees it: a check box named by its place and dot.
class AccessibleDotCell : public QAccessibleWidget {
public:
    explicit AccessibleDotCell(DotCell* cell) : QAccessibleWidget(cell, QAccessible::CheckBox) {}

    [[nodiscard]] DotCell* cell() const { return static_cast<DotCell*>(widget()); }

    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return cell()->nameText();
        if (kind == QAccessible::Description)
            return cell()->toolTipText();
        return QAccessibleWidget::text(kind);
    }

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = cell()->isLit();
        state.focusable = true;
        state.disabled = !cell()->inCharacter() || !cell()->isEnabled();
        return state;
    }

    [[nodiscard]] QStringList actionNames() const override { return {toggleAction()}; }
    [[nodiscard]] QStringList keyBindingsForAction(const QString& action) const override
    {
        return action == toggleAction() ? QStringList{QStringLiteral("Space")} : QStringList{};
    }
    void doAction(const QString& action) override
    {
        if (!cell()->isEnabled())
            return;
        if (action == toggleAction() || action == pressAction())
            emit cell()->clicked();
    }
};

QAccessibleInterface* dotCellAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("dotmatrix::DotCell") && object->isWidgetType())
        return new AccessibleDotCell(static_cast<DotCell*>(object));
    return nullptr;
}

} // namespace

void installDotCellAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(dotCellAccessible);
        return true;
    }();
    (void)installed;
}

DotCell::DotCell(QWidget* parent) : QFrame(parent)
{
    installDotCellAccessibility();
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setFocusPolicy(Qt::NoFocus);
}

void DotCell::setLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    update();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
        QAccessibleEvent named(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&named);
    }
}

void DotCell::setMarked(bool marked)
{
    // Tab reaches the marked cell alone; a click never gives a cell focus.
    setFocusPolicy(marked ? Qt::TabFocus : Qt::NoFocus);
}

void DotCell::paintEvent(QPaintEvent* event)
{
    // Painted from the state at every paint, so a palette or theme change
    // shows at once and never takes the lit colour with it.
    QPainter painter(this);
    painter.fillRect(rect(), lit_ ? QColor(255, 0, 0) : palette().color(QPalette::Button));
    painter.end();
    QFrame::paintEvent(event);
    if (hasFocus()) {
        // A black ring inside a white one shows on red and on light and dark faces.
        QPainter ring(this);
        const QRect inner = rect().adjusted(2, 2, -3, -3);
        ring.setPen(QPen(Qt::white, 2));
        ring.drawRect(inner);
        ring.setPen(QPen(Qt::black, 1));
        ring.drawRect(inner.adjusted(2, 2, -2, -2));
    }
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

void DotCell::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() != Qt::NoModifier && event->modifiers() != Qt::KeypadModifier) {
        QFrame::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            emit clicked();
        break;
    case Qt::Key_Left:
        emit markMoveRequested(-1, 0, 0);
        break;
    case Qt::Key_Right:
        emit markMoveRequested(1, 0, 0);
        break;
    case Qt::Key_Up:
        emit markMoveRequested(0, -1, 0);
        break;
    case Qt::Key_Down:
        emit markMoveRequested(0, 1, 0);
        break;
    case Qt::Key_Home:
        emit markMoveRequested(0, 0, -1);
        break;
    case Qt::Key_End:
        emit markMoveRequested(0, 0, 1);
        break;
    default:
        QFrame::keyPressEvent(event);
    }
}

bool DotCell::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const QString text = toolTipText();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, this);
        return true;
    }
    return QFrame::event(event);
}

} // namespace dotmatrix
