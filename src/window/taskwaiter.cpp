#include "taskwaiter.h"

#include <chrono>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include "applicationname.h"
#include "progressbox.h"

namespace dotmatrix {

namespace {

// Most copies are over at once: those show nothing.
constexpr auto kQuietWait = std::chrono::milliseconds(20);
constexpr int kTickMilliseconds = 15;
// A position that counts is read, not a blur: a few changes a second.
constexpr int kPositionMilliseconds = 250;
constexpr int kProgressDelayMilliseconds = 500;

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

TaskWaiter::TaskWaiter(QWidget& window, std::function<void(Position)> showPosition)
    : QObject(&window), window_(window), showPosition_(std::move(showPosition))
{
}

void TaskWaiter::run(BackgroundTask& task)
{
    task_ = &task;
    qApp->installEventFilter(this);
    // However the wait ends, a throw included, the window comes back as it was.
    const auto restore = qScopeGuard([this] {
        releaseControls();
        QGuiApplication::restoreOverrideCursor();
        qApp->removeEventFilter(this);
        task_ = nullptr;
    });
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    task.start();
    const bool prefix = task.kind() == BackgroundTask::Kind::PrefixCopy;
    if (!task.waitFinished(kQuietWait)) {
        holdControls();
        // The window's thread goes on painting and answering the desktop.
        QEventLoop loop;
        QElapsedTimer waited;
        waited.start();
        qint64 positionShown = 0;
        std::unique_ptr<ProgressBox> box;
        QTimer tick;
        connect(&tick, &QTimer::timeout, &loop, [&] {
            if (task.waitFinished(std::chrono::milliseconds(0))) {
                loop.quit();
                return;
            }
            if (prefix && waited.elapsed() - positionShown >= kPositionMilliseconds) {
                positionShown = waited.elapsed();
                showPosition_(task.done());
            }
            // Not over a question the window is asking meanwhile.
            if (box == nullptr && waited.elapsed() >= kProgressDelayMilliseconds
                && QApplication::activeModalWidget() == nullptr) {
                box = std::make_unique<ProgressBox>(task, QString::fromLatin1(kApplicationName), &window_);
                box->show();
            }
            if (box != nullptr)
                box->refresh();
        });
        tick.start(kTickMilliseconds);
        loop.exec();
        box.reset();
    }
    if (prefix)
        showPosition_(task.done());
    // Input that reached the window meanwhile is dropped now, not replayed
    // later; the controls come back only then.
    QCoreApplication::processEvents();
    if (closing_)
        QTimer::singleShot(0, &window_, &QWidget::close);
}

bool TaskWaiter::closeWhenDone()
{
    closing_ = true;
    if (task_ == nullptr || !task_->stoppable())
        return false;
    task_->requestStop();
    return true;
}

bool TaskWaiter::eventFilter(QObject* watched, QEvent* event)
{
    // Nothing aimed at the window acts during a copy, then or later.
    if (task_ != nullptr && isInput(event->type())) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == &window_)
            return true;
    }
    return QObject::eventFilter(watched, event);
}

void TaskWaiter::holdControls()
{
    focus_ = window_.focusWidget();
    for (QWidget* control : window_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow())
            continue;
        held_.push_back({control, control->isEnabled()});
        control->setEnabled(false);
    }
}

void TaskWaiter::releaseControls()
{
    for (const Held& held : held_) {
        if (held.control != nullptr)
            held.control->setEnabled(held.enabled);
    }
    held_.clear();
    if (focus_ != nullptr && focus_->isEnabled() && focus_->isVisible())
        focus_->setFocus(Qt::OtherFocusReason);
    focus_ = nullptr;
}

} // namespace dotmatrix
