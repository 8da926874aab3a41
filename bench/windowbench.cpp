// Times the real window. The overview of a 4 GiB sparse image with data in
// it: how long a page step and a jump of the scroll bar take to repaint a
// window full of glyphs, and the memory before and after. Then a start in
// the middle of a large image: from the click on "Start processing" to the
// first character on display, and how often `curoff` was painted meanwhile.
// Run it on a real display (or Xvfb).
//
// Then the overview left open and idle: the processor time it takes.
//
//   window_bench [--size-mib N] [--folder PATH] [--steps N] [--idle-ms N]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QtTest/QTest>

#include "benchsystem.h"
#include "form1.h"
#include "overviewwindow.h"
#include "usersettings.h"

void fail(const std::string& what)
{
    std::fprintf(stderr, "window_bench: %s\n", what.c_str());
    std::exit(2);
}

namespace {

// Notes the moments at which `curoff` is painted during the copy.
class PaintClock : public QObject {
public:
    explicit PaintClock(const QElapsedTimer& clock) : clock_(clock) {}
    std::vector<qint64> paints;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            paints.push_back(clock_.nsecsElapsed());
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& clock_;
};

// Chooses `path` in the file dialog that the next click opens.
void chooseFile(QPushButton* button, const QString& path)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&poll, path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        poll.stop();
        // As a user would: drop the proposed file and type the name.
        dialog->findChild<QListView*>(QStringLiteral("listView"))->selectionModel()->clear();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    poll.start(10);
    QTest::mouseClick(button, Qt::LeftButton);
}

// Milliseconds: the median and the worst.
std::pair<double, double> medianAndWorst(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

// Pages through the overview of a sparse image of 4 GiB with a stretch of
// data every 64 MiB, and jumps the scroll bar about in it, with glyphs of
// `format` (the original 5 bytes where empty).
int benchOverview(const std::filesystem::path& work, int steps, int idleMilliseconds, const QString& format)
{
    constexpr qint64 kSize = qint64{4} << 30;
    const QString image = QDir::fromNativeSeparators(QString::fromStdString((work / "sparse.rom").string()));
    {
        std::ofstream out(image.toStdString(), std::ios::binary);
        std::vector<char> data(64 << 10);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 37 / 5);
        for (qint64 at = 0; at < kSize; at += qint64{64} << 20) {
            out.seekp(at);
            out.write(data.data(), static_cast<std::streamsize>(data.size()));
        }
        out.seekp(kSize - 1);
        out.put('\x01');
    }
    // As the user left it at the last start.
    if (format.isEmpty())
        dotmatrix::userSettings()->remove(QStringLiteral("format/other"));
    else
        dotmatrix::userSettings()->setValue(QStringLiteral("format/other"), format);
    auto window = std::make_unique<dotmatrix::Form1>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return 2;
    chooseFile(window->findChild<QPushButton*>(QStringLiteral("Loadfile")), image);
    window->findChild<QLineEdit*>(QStringLiteral("Offset"))->setText(QStringLiteral("1"));
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("OverviewButt")), Qt::LeftButton);
    dotmatrix::OverviewWindow* overview = window->overview();
    overview->resize(1280, 900);
    dotmatrix::GlyphView* view = overview->view();
    view->setDotSize(3);
    if (!QTest::qWaitForWindowExposed(overview))
        return 2;
    view->viewport()->repaint();
    QTest::qWait(50);
    const long before = residentKiB();

    std::vector<double> pages;
    std::vector<double> jumps;
    int stale = 0;
    QElapsedTimer clock;
    view->setFocus();
    for (int step = 0; step < steps; ++step) {
        clock.start();
        QTest::keyClick(view, Qt::Key_PageDown);
        view->viewport()->repaint();
        pages.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        stale += view->upToDate() ? 0 : 1;
    }
    QScrollBar* bar = view->verticalScrollBar();
    for (int step = 0; step < steps; ++step) {
        clock.start();
        bar->setValue(static_cast<int>((static_cast<qint64>(step) * 7919 % steps) * bar->maximum() / steps));
        view->viewport()->repaint();
        jumps.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        stale += view->upToDate() ? 0 : 1;
    }
    const long after = residentKiB();
    // Left open with nothing happening, the overview only looks for other
    // programs now and then.
    const int readsBefore = view->readCount();
    const double busyBefore = processorSeconds();
    QElapsedTimer idle;
    idle.start();
    QTest::qWait(idleMilliseconds);
    const double idleShare = (processorSeconds() - busyBefore) / (static_cast<double>(idle.elapsed()) / 1000);
    const auto [pageMedian, pageWorst] = medianAndWorst(pages);
    const auto [jumpMedian, jumpWorst] = medianAndWorst(jumps);
    std::printf("overview of 4 GiB (%s), %zu glyphs in view: page step %.2f ms median, %.2f ms worst over %d; "
                "scroll bar jump %.2f ms median, %.2f ms worst; %d repaints without the data read\n",
                view->format().words().c_str(), view->glyphsInView().size(), pageMedian, pageWorst, steps, jumpMedian,
                jumpWorst, stale);
    std::printf("memory %ld KiB before paging, %ld KiB after\n", before, after);
    std::printf("overview idle: %.2f %% of one core over %.1f s, %d reads\n", idleShare * 100,
                static_cast<double>(idleMilliseconds) / 1000, view->readCount() - readsBefore);
    window.reset();
    std::filesystem::remove(image.toStdString());
    return stale == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    qint64 sizeMiB = 256;
    int steps = 200;
    int idleMilliseconds = 3000;
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--size-mib")
            sizeMiB = std::atoll(argv[i + 1]);
        else if (std::string(argv[i]) == "--folder")
            folder = argv[i + 1];
        else if (std::string(argv[i]) == "--steps")
            steps = std::max(1, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--idle-ms")
            idleMilliseconds = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::filesystem::path work = folder / ("window-bench-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(work);
    // The window remembers settings per user: the benchmark's stay in its folder.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((work / "settings").string()));
    for (const QString& format : {QString(), QStringLiteral("8x16, bytes as rows")}) {
        if (const int failed = benchOverview(work, steps, format.isEmpty() ? idleMilliseconds : 1, format); failed != 0) {
            std::filesystem::remove_all(work);
            return failed;
        }
    }
    // As the file dialog gives them back: with forward slashes on Windows too.
    const QString source = QDir::fromNativeSeparators(QString::fromStdString((work / "source.rom").string()));
    const QString target = QDir::fromNativeSeparators(QString::fromStdString((work / "target.bin").string()));
    {
        std::ofstream out(source.toStdString(), std::ios::binary);
        std::vector<char> block(1 << 20, '\x5a');
        for (qint64 i = 0; i < sizeMiB; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }

    // A message box here means the run went wrong: say so and go on.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "message: %s\n", qPrintable(box->text()));
            box->accept();
        }
    });
    boxes.start(100);

    auto window = std::make_unique<dotmatrix::Form1>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return 2;
    chooseFile(window->findChild<QPushButton*>(QStringLiteral("Loadfile")), source);
    chooseFile(window->findChild<QPushButton*>(QStringLiteral("Savefile")), target);
    if (window->findChild<QLineEdit*>(QStringLiteral("sfile"))->text() != QDir::toNativeSeparators(source)
        || window->findChild<QLineEdit*>(QStringLiteral("ttext"))->text() != QDir::toNativeSeparators(target)) {
        std::fprintf(stderr, "window_bench: the files were not chosen\n");
        return 2;
    }
    auto* offset = window->findChild<QLineEdit*>(QStringLiteral("Offset"));
    offset->setText(QString::number((sizeMiB << 20) / 2));

    QElapsedTimer clock;
    PaintClock paints(clock);
    window->findChild<QLineEdit*>(QStringLiteral("curoff"))->installEventFilter(&paints);
    clock.start();
    // The handler returns once the first character is captured and painted.
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("StartButt")), Qt::LeftButton);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    qint64 longestGap = 0;
    qint64 previous = 0;
    for (const qint64 paint : paints.paints) {
        longestGap = std::max(longestGap, paint - previous);
        previous = paint;
    }
    std::printf("start in the middle of %lld MiB: first character after %.3f s\n", static_cast<long long>(sizeMiB),
                seconds);
    std::printf("curoff painted %zu times during the copy, at most %.0f ms apart\n", paints.paints.size(),
                static_cast<double>(longestGap) / 1e6);
    const bool opened = window->pass().isOpen();
    // Windows removes no file that is open: the window and its pass go first.
    window.reset();
    std::filesystem::remove_all(work);
    return opened ? 0 : 1;
}
