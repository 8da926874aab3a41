#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <QTimer>
#include <QWidget>

#include "fontscan.h"
#include "previewreader.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace dotmatrix {

// The window "Fonts found": a scan of the whole file for places that look
// like fonts, run on a thread of its own with progress and Cancel, and the
// places it ranks best, each with a strip of its first glyphs. Activating
// one asks to show it.
class FontsFoundWindow : public QWidget {
    Q_OBJECT

public:
    explicit FontsFoundWindow(QWidget* parent);
    ~FontsFoundWindow() override;

    // Scans `image` anew; a scan under way is stopped first.
    void scan(const ImageView& image);
    [[nodiscard]] bool scanning() const { return run_ != nullptr; }
    [[nodiscard]] const std::vector<FontCandidate>& found() const { return found_; }

signals:
    void chosen(const dotmatrix::FontCandidate& candidate);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // One scan and the strips of what it found, read on its own thread;
    // shared with that thread, so that a scan given up is never waited for.
    struct ScanRun {
        std::atomic<bool> stopRequested{false};
        std::atomic<bool> done{false};
        std::atomic<std::int64_t> progress{0};
        std::atomic<std::int64_t> length{0};
        ScanOutcome outcome;
        std::vector<std::vector<std::uint8_t>> strips;
    };

    // Leaves the scan under way to end by itself.
    void stop();
    void finished();
    void fill(const std::vector<std::vector<std::uint8_t>>& strips);

    std::shared_ptr<ScanRun> run_;
    ScanOutcome outcome_;
    std::vector<FontCandidate> found_;
    QTimer poll_;
    QListWidget* list_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace dotmatrix
