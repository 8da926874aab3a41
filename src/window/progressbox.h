#pragma once

#include <QProgressDialog>

#include "backgroundtask.h"

namespace dotmatrix {

// The progress of a long copy or sync, modal to the main window: what is
// being done, the share done and the bytes done of the total, and Cancel
// (or Escape) where the task can be stopped. A sync can't: its box says the
// target is being written to the disk and offers nothing to press.
class ProgressBox : public QProgressDialog {
    Q_OBJECT

public:
    ProgressBox(BackgroundTask& task, const QString& title, QWidget* parent);

    // Shows how far the task has come.
    void refresh();

protected:
    // Escape and Cancel ask the task to stop; the box stays until it has.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void requestStop();

    BackgroundTask& task_;
    QString doing_;
};

// A byte count as people read it: "512 KiB", "3.4 MiB", "2.15 GiB".
[[nodiscard]] QString byteCountText(qint64 bytes);

} // namespace dotmatrix
