#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include <QTimer>
#include <QWidget>

#include "fontscan.h"

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

    // Scans `files` anew; a scan under way is stopped first.
    void scan(const ScanFiles& files);
    [[nodiscard]] bool scanning() const { return worker_.joinable(); }
    [[nodiscard]] const std::vector<FontCandidate>& found() const { return found_; }

signals:
    void chosen(const dotmatrix::FontCandidate& candidate);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void stop();
    void finished();
    void fill();

    ScanFiles files_;
    std::thread worker_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> done_{false};
    std::atomic<std::int64_t> progress_{0};
    std::atomic<std::int64_t> length_{0};
    ScanOutcome outcome_;
    std::vector<FontCandidate> found_;
    QTimer poll_;
    QListWidget* list_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace dotmatrix
