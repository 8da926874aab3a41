#include "progressbox.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>

#include "offsettext.h"

namespace dotmatrix {

namespace {

constexpr int kSteps = 1000;

QString positionText(Position position)
{
    return QString::fromStdString(decimalText(position));
}

} // namespace

ProgressBox::ProgressBox(BackgroundTask& task, const QString& title, QWidget* parent)
    : QProgressDialog(parent), task_(task)
{
    setObjectName(QStringLiteral("ProgressBox"));
    setWindowTitle(title);
    // Not modal: the main window's controls are unavailable meanwhile, and
    // its close button must still ask whether to stop and close.
    setWindowModality(Qt::NonModal);
    setAutoClose(false);
    setAutoReset(false);
    // Shown by the window once the task has taken long enough, not by Qt's guess.
    setMinimumDuration(std::numeric_limits<int>::max());
    // Cancel asks the task to stop; the box stays until it has. Qt connects
    // its own cancel() by name, so it is disconnected by name.
    disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
    connect(this, &QProgressDialog::canceled, this, &ProgressBox::requestStop);
    switch (task.kind()) {
    case BackgroundTask::Kind::PrefixCopy:
    case BackgroundTask::Kind::TailCopy:
    case BackgroundTask::Kind::GapCopy:
        doing_ = QStringLiteral("Copying positions %1 to %2 of the source file to the target file.")
                     .arg(positionText(task.first()), positionText(task.last()));
        setRange(0, kSteps);
        break;
    case BackgroundTask::Kind::SourceCheck:
    case BackgroundTask::Kind::TargetCheck:
        doing_ = QStringLiteral("Reading positions %1 to %2 of the %3 file for its checksum.")
                     .arg(positionText(task.first()), positionText(task.last()),
                          task.kind() == BackgroundTask::Kind::SourceCheck ? QStringLiteral("source")
                                                                           : QStringLiteral("target"));
        setRange(0, kSteps);
        break;
    case BackgroundTask::Kind::Verify:
        doing_ = QStringLiteral("Checking positions %1 to %2 of the target file against the source file and this "
                                "pass's changes.")
                     .arg(positionText(task.first()), positionText(task.last()));
        setRange(0, kSteps);
        break;
    case BackgroundTask::Kind::Sync:
        doing_ = QStringLiteral("Writing the target file to the disk. This can't be cancelled: the pass ends once "
                                "the disk holds every byte.");
        setCancelButton(nullptr);
        setRange(0, 0);  // a busy bar: the system tells nothing of its progress
        break;
    }
    if (auto* bar = findChild<QProgressBar*>())
        bar->setAccessibleName(!task.stoppable() ? QStringLiteral("Writing to the disk")
                               : task.kind() == BackgroundTask::Kind::SourceCheck
                                       || task.kind() == BackgroundTask::Kind::TargetCheck
                                   ? QStringLiteral("Checksum progress")
                                   : QStringLiteral("Copy progress"));
    refresh();
}

void ProgressBox::refresh()
{
    if (!task_.stoppable()) {
        setLabelText(doing_);
        return;
    }
    const qint64 total = task_.last().number() - task_.first().number() + 1;
    const qint64 done = std::clamp<qint64>(task_.done().number() - task_.first().number() + 1, 0, total);
    const int share = total > 0 ? static_cast<int>(done * kSteps / total) : kSteps;
    setValue(share);
    QString text = doing_ + QStringLiteral("\n\n%1 %, %2 of %3")
                                .arg(share / 10)
                                .arg(byteCountText(done), byteCountText(total));
    if (task_.stopRequested())
        text += QStringLiteral("\n\nStopping at the end of this piece...");
    setLabelText(text);
}

void ProgressBox::reject()
{
    requestStop();
}

void ProgressBox::closeEvent(QCloseEvent* event)
{
    requestStop();
    event->ignore();
}

void ProgressBox::requestStop()
{
    if (!task_.stoppable())
        return;
    task_.requestStop();
    if (auto* cancel = findChild<QPushButton*>())
        cancel->setEnabled(false);
    refresh();
}

QString byteCountText(qint64 bytes)
{
    constexpr double kKiB = 1024.0;
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(static_cast<double>(bytes) / kKiB, 0, 'f', 0);
    if (bytes < 1024LL * 1024 * 1024)
        return QStringLiteral("%1 MiB").arg(static_cast<double>(bytes) / (kKiB * kKiB), 0, 'f', 1);
    return QStringLiteral("%1 GiB").arg(static_cast<double>(bytes) / (kKiB * kKiB * kKiB), 0, 'f', 2);
}

} // namespace dotmatrix
