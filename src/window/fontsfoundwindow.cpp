#include "fontsfoundwindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <thread>

#include "glyphdrawing.h"
#include "glyphlayout.h"
#include "previewreader.h"

namespace dotmatrix {

namespace {

constexpr int kStripGlyphs = 16;
constexpr int kStripDot = 2;
constexpr int kPollMilliseconds = 100;

// The bytes of a candidate's first glyphs, as the overview reads them.
std::vector<std::uint8_t> stripBytes(const ImageView& image, const FontCandidate& candidate)
{
    const PreviewReader::Request request = PreviewReader::requestFor(
        image, candidate.first, std::int64_t{kStripGlyphs - 1} * candidate.format.step() + candidate.format.glyphBytes());
    std::vector<std::uint8_t> bytes = PreviewReader::read(request).bytes;
    bytes.resize(static_cast<std::size_t>(request.count), 0);
    return bytes;
}

// The first glyphs of a candidate as the overview draws them, in its order.
QPixmap strip(const std::vector<std::uint8_t>& bytes, const FontCandidate& candidate)
{
    const GlyphFormat& format = candidate.format;
    QImage image(kStripGlyphs * (format.width + 1), format.height, QImage::Format_RGB32);
    image.fill(qRgb(255, 255, 255));
    for (int glyph = 0; glyph < kStripGlyphs; ++glyph) {
        drawGlyph(image, glyph * (format.width + 1), 0,
                  std::span(bytes).subspan(static_cast<std::size_t>(glyph * format.step()),
                                           static_cast<std::size_t>(format.glyphBytes())),
                  format, qRgb(0, 0, 0), [](int) { return qRgb(255, 255, 255); });
    }
    return QPixmap::fromImage(image.scaled(image.size() * kStripDot));
}

} // namespace

FontsFoundWindow::FontsFoundWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("FontsFound"));
    setWindowTitle(QStringLiteral("Fonts found"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("FontList"));
    list_->setAccessibleName(QStringLiteral("Places that look like fonts, best first"));
    // Room for glyphs of 8 x 16 dots; larger ones are drawn smaller.
    list_->setIconSize(QSize(kStripGlyphs * 9 * kStripDot, 16 * kStripDot));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("ScanProgress"));
    bar_->setAccessibleName(QStringLiteral("Scan progress"));
    bar_->setRange(0, 1000);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("ScanCancel"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("FontsStatus"));
    status_->setWordWrap(true);
    auto* progress = new QHBoxLayout;
    progress->addWidget(bar_, 1);
    progress->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(progress);
    layout->addWidget(list_, 1);
    layout->addWidget(status_);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (run_ != nullptr)
            run_->stopRequested = true;
        status_->setText(QStringLiteral("Stopping the scan..."));
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int row = list_->row(item);
        if (row >= 0 && row < static_cast<int>(found_.size()))
            emit chosen(found_[static_cast<std::size_t>(row)]);
    });
    poll_.setInterval(kPollMilliseconds);
    connect(&poll_, &QTimer::timeout, this, [this] {
        if (run_ == nullptr)
            return;
        const std::int64_t length = run_->length.load();
        if (length > 0)
            bar_->setValue(static_cast<int>(run_->progress.load() * 1000 / length));
        if (run_->done.load())
            finished();
    });
    resize(640, 420);
}

FontsFoundWindow::~FontsFoundWindow()
{
    stop();
}

void FontsFoundWindow::stop()
{
    if (run_ != nullptr)
        run_->stopRequested = true;
    run_.reset();
    poll_.stop();
}

void FontsFoundWindow::scan(const ImageView& image)
{
    stop();
    found_.clear();
    list_->clear();
    bar_->setValue(0);
    bar_->show();
    cancel_->show();
    cancel_->setEnabled(true);
    status_->setText(QStringLiteral("Scanning \"%1\"...").arg(QString::fromStdString(image.sourcePath)));
    run_ = std::make_shared<ScanRun>();
    // The thread owns its share of the run: it may outlive this window.
    std::thread([run = run_, image] {
        ScanOutcome outcome;
        std::vector<std::vector<std::uint8_t>> strips;
        try {
            outcome = scanForFonts(image.files(), [&run](std::int64_t done, std::int64_t length) {
                run->progress = done;
                run->length = length;
                return !run->stopRequested.load();
            });
            for (const FontCandidate& candidate : outcome.found)
                strips.push_back(stripBytes(image, candidate));
        } catch (const std::exception& error) {
            outcome.problem = error.what();
        }
        run->outcome = std::move(outcome);
        run->strips = std::move(strips);
        run->done = true;
    }).detach();
    poll_.start();
}

void FontsFoundWindow::finished()
{
    poll_.stop();
    const std::shared_ptr<ScanRun> run = std::move(run_);
    bar_->setValue(1000);
    cancel_->setEnabled(false);
    outcome_ = std::move(run->outcome);
    found_ = outcome_.found;
    fill(run->strips);
    QStringList lines;
    if (!outcome_.problem.empty())
        lines << QString::fromStdString(outcome_.problem);
    else if (outcome_.stopped)
        lines << QStringLiteral("The scan was cancelled: the places listed are those found before it stopped.");
    else if (found_.empty())
        lines << QStringLiteral("Nothing in the file looks like a font of glyphs 4 to 7 bytes wide.");
    else
        lines << (found_.size() == 1
                      ? QStringLiteral("1 place looks like a font. Activate it to show it in the overview.")
                      : QStringLiteral("%1 places look like fonts, best first. Activate one to show it in the overview.")
                            .arg(found_.size()));
    for (const std::string& note : outcome_.notes)
        lines << QString::fromStdString(note);
    if (outcome_.changed)
        lines << QStringLiteral("The file changed while it was scanned: the list may be stale.");
    status_->setText(lines.join(u'\n'));
}

void FontsFoundWindow::fill(const std::vector<std::vector<std::uint8_t>>& strips)
{
    for (std::size_t row = 0; row < found_.size(); ++row) {
        const FontCandidate& candidate = found_[row];
        const QString name = QString::fromStdString(describeCandidate(candidate));
        std::vector<std::uint8_t> bytes = row < strips.size() ? strips[row] : std::vector<std::uint8_t>();
        bytes.resize(static_cast<std::size_t>((kStripGlyphs - 1) * candidate.format.step() + candidate.format.glyphBytes()));
        auto* item = new QListWidgetItem(strip(bytes, candidate), name, list_);
        item->setData(Qt::AccessibleTextRole, name);
        item->setToolTip(name);
    }
    if (list_->count() > 0)
        list_->setCurrentRow(0);
}

void FontsFoundWindow::closeEvent(QCloseEvent* event)
{
    // A scan under way stops within a block; the window goes at once.
    if (run_ != nullptr)
        run_->stopRequested = true;
    QWidget::closeEvent(event);
}

} // namespace dotmatrix
