#include "usersettings.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace dotmatrix {

std::unique_ptr<QSettings> userSettings()
{
    // A file of the user's own on every system, where tests can put it aside.
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("dotmatrix"),
                                       QStringLiteral("dotmatrix"));
}

void fitOnScreen(QWidget& window, const QWidget* near)
{
    QScreen* screen = near != nullptr ? near->screen() : nullptr;
    if (screen == nullptr)
        screen = QGuiApplication::screenAt(window.frameGeometry().center());
    if (screen == nullptr)
        screen = window.screen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    // The frame is what must fit; the client area is what can be sized.
    const QRect frame = window.frameGeometry();
    const QSize decoration = frame.size() - window.size();
    const QSize largest = area.size() - decoration;
    QSize size = window.size().boundedTo(largest).expandedTo(window.minimumSize().boundedTo(largest));
    if (size != window.size())
        window.resize(size);
    const QSize whole = size + decoration;
    const int x = std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() + 1 - whole.width()));
    const int y = std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() + 1 - whole.height()));
    if (x != frame.x() || y != frame.y())
        window.move(x, y);
}

} // namespace dotmatrix
