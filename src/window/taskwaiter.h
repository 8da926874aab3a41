#pragma once

#include <functional>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>

#include "backgroundtask.h"

class QWidget;

namespace dotmatrix {

// Waits for a copy or a sync that runs on its own thread, with the main
// window alive: it repaints and answers the desktop, its controls show as
// unavailable (also to assistive tools), input aimed at it is dropped, a
// long task shows its progress with Cancel, and closing stops a copy and
// closes the window once the task has ended. A task that ends within 20 ms
// leaves the window untouched.
class TaskWaiter : public QObject {
    Q_OBJECT

public:
    // `showPosition` shows how far a prefix copy has come, in `curoff`.
    TaskWaiter(QWidget& window, std::function<void(Position)> showPosition);

    // Starts `task` and returns once it has finished.
    void run(BackgroundTask& task);

    [[nodiscard]] bool waiting() const { return task_ != nullptr; }
    // True once the user has agreed to close while waiting.
    [[nodiscard]] bool closing() const { return closing_; }
    // Stops the task where it can be stopped and closes the window once it
    // has ended; true where it stops at its next piece.
    bool closeWhenDone();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the window's controls as unavailable, or as they were.
    void holdControls();
    void releaseControls();

    QWidget& window_;
    std::function<void(Position)> showPosition_;
    BackgroundTask* task_ = nullptr;
    bool closing_ = false;
    struct Held {
        QPointer<QWidget> control;
        bool enabled;
    };
    std::vector<Held> held_;
    QPointer<QWidget> focus_;
};

} // namespace dotmatrix
