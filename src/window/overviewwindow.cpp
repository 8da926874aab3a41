#include "overviewwindow.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

#include <QCheckBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QSaveFile>
#include <QEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QProgressDialog>
#include <QEventLoop>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QFileInfo>
#include <QDir>
#include <cctype>

#include "applicationname.h"
#include "commondialog.h"
#include "fontsfoundwindow.h"
#include "glyphdrawing.h"
#include "glyphexport.h"
#include "messagebox.h"
#include "offsettext.h"
#include "sheetimage.h"
#include "usersettings.h"

namespace dotmatrix {

OverviewWindow::OverviewWindow(DotOrderSetting& order, QWidget* parent)
    : QWidget(parent, Qt::Window), order_(order)
{
    setObjectName(QStringLiteral("Overview"));
    setWindowTitle(QStringLiteral("Overview"));
    view_ = new GlyphView(this);
    view_->setAccessibleName(QStringLiteral("Glyphs"));
    view_->setToolTip(QStringLiteral("Click a glyph, or select it with the arrow keys and press Enter, to go there. "
                                     "Ctrl+Left and Ctrl+Right shift every glyph by one byte."));

    auto* earlier = new QPushButton(QStringLiteral("< 1 byte"), this);
    earlier->setObjectName(QStringLiteral("ShiftEarlier"));
    earlier->setToolTip(QStringLiteral("Every glyph starts one byte earlier (Ctrl+Left)"));
    earlier->setAccessibleName(QStringLiteral("Glyphs start one byte earlier"));
    auto* later = new QPushButton(QStringLiteral("1 byte >"), this);
    later->setObjectName(QStringLiteral("ShiftLater"));
    later->setToolTip(QStringLiteral("Every glyph starts one byte later (Ctrl+Right)"));
    later->setAccessibleName(QStringLiteral("Glyphs start one byte later"));
    dotSize_ = new QSpinBox(this);
    dotSize_->setObjectName(QStringLiteral("DotSize"));
    dotSize_->setRange(GlyphView::kSmallestDot, GlyphView::kLargestDot);
    dotSize_->setSuffix(QStringLiteral(" px"));
    dotSize_->setValue(view_->dotSize());
    auto* dotLabel = new QLabel(QStringLiteral("&Dot size:"), this);
    dotLabel->setBuddy(dotSize_);
    auto* formatButton = new QPushButton(QStringLiteral("Other f&ormat..."), this);
    formatButton->setObjectName(QStringLiteral("OverviewOtherFormat"));
    formatButton->setToolTip(QStringLiteral("Glyphs of any size: bytes as columns or rows, up to 32 x 32 dots, further "
                                            "apart than their bytes"));
    connect(formatButton, &QPushButton::clicked, this, &OverviewWindow::formatRequested);
    bit0OnTop_ = new QCheckBox(QStringLiteral("Bit 0 on top"), this);
    bit0OnTop_->setObjectName(QStringLiteral("Bit0OnTop"));
    firstByteLeft_ = new QCheckBox(QStringLiteral("First byte on the left"), this);
    firstByteLeft_->setObjectName(QStringLiteral("FirstByteLeft"));
    goTo_ = new QLineEdit(this);
    goTo_->setObjectName(QStringLiteral("GoToCharacter"));
    goTo_->setAccessibleName(QStringLiteral("Go to character"));
    goTo_->setPlaceholderText(QStringLiteral("A, 65, 0x41"));
    goTo_->setToolTip(QStringLiteral("Type a character or its code and press Enter to select its glyph; "
                                     "mark one glyph with \"This is character...\" first."));
    goTo_->setMaxLength(8);
    goTo_->setFixedWidth(goTo_->fontMetrics().horizontalAdvance(QStringLiteral("0x000000")) + 16);
    auto* exportButton = new QPushButton(QStringLiteral("&Export..."), this);
    exportButton->setObjectName(QStringLiteral("ExportGlyphs"));
    exportButton->setToolTip(QStringLiteral("Write glyphs from the selected one on to a PNG sheet, a BDF font, "
                                            "C source or raw bytes"));
    auto* importButton = new QPushButton(QStringLiteral("&Import PNG..."), this);
    importButton->setObjectName(QStringLiteral("ImportSheet"));
    importButton->setToolTip(QStringLiteral("Write the glyphs of a PNG sheet, edited elsewhere, to the target of the pass"));
    auto* findButton = new QPushButton(QStringLiteral("&Find fonts..."), this);
    findButton->setObjectName(QStringLiteral("FindFonts"));
    findButton->setToolTip(QStringLiteral("Scan the whole file for places that look like fonts, best first"));
    auto* goToLabel = new QLabel(QStringLiteral("&Go to character:"), this);
    goToLabel->setBuddy(goTo_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("OverviewStatus"));
    status_->setWordWrap(true);
    checksum_ = new QLabel(this);
    checksum_->setObjectName(QStringLiteral("ChecksumLine"));
    checksum_->setWordWrap(true);
    checksum_->hide();

    // Two rows of tools: how the glyphs are drawn, and what to do with them.
    auto* drawing = new QHBoxLayout;
    drawing->addWidget(earlier);
    drawing->addWidget(later);
    drawing->addSpacing(16);
    drawing->addWidget(dotLabel);
    drawing->addWidget(dotSize_);
    drawing->addSpacing(16);
    drawing->addWidget(bit0OnTop_);
    drawing->addWidget(firstByteLeft_);
    drawing->addStretch();
    auto* acting = new QHBoxLayout;
    acting->addWidget(goToLabel);
    acting->addWidget(goTo_);
    acting->addSpacing(16);
    acting->addWidget(findButton);
    acting->addWidget(exportButton);
    acting->addWidget(importButton);
    acting->addSpacing(16);
    acting->addWidget(formatButton);
    acting->addStretch();
    // The format the glyphs are drawn in, in words, under the tools.
    auto* formatWords = new QLabel(this);
    formatWords->setObjectName(QStringLiteral("OverviewFormat"));
    formatWords->setText(QStringLiteral("Format: %1").arg(QString::fromStdString(view_->format().words())));
    connect(view_, &GlyphView::formatChanged, formatWords,
            [formatWords](const QString& words) { formatWords->setText(QStringLiteral("Format: %1").arg(words)); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(drawing);
    layout->addLayout(acting);
    layout->addWidget(formatWords);
    layout->addWidget(view_, 1);
    layout->addWidget(checksum_);
    layout->addWidget(status_);

    glyphMenu_ = new QMenu(this);
    glyphMenu_->addAction(QStringLiteral("&This is character..."), this, [this] { askCharacter(menuGlyph_); });
    const auto exportSelection = [this] {
        const auto [first, count] = view_->selection();
        exportGlyphs(first, count > 1 ? count : 256);
    };
    glyphMenu_->addAction(QStringLiteral("&Export..."), this, exportSelection);
    glyphMenu_->addAction(QStringLiteral("&Import PNG..."), this, [this] { emit importRequested(view_->selection().first); });
    connect(exportButton, &QPushButton::clicked, this, exportSelection);
    connect(findButton, &QPushButton::clicked, this, &OverviewWindow::findFonts);
    connect(importButton, &QPushButton::clicked, this, [this] { emit importRequested(view_->selection().first); });

    connect(earlier, &QPushButton::clicked, view_, [this] { view_->shiftAlignment(-1); });
    connect(later, &QPushButton::clicked, view_, [this] { view_->shiftAlignment(1); });
    connect(dotSize_, &QSpinBox::valueChanged, view_, &GlyphView::setDotSize);
    connect(dotSize_, &QSpinBox::valueChanged, this,
            [](int size) { userSettings()->setValue(QStringLiteral("overview/dotSize"), size); });
    connect(view_, &GlyphView::dotSizeChanged, dotSize_, &QSpinBox::setValue);
    connect(view_, &GlyphView::activated, this, &OverviewWindow::jumpRequested);
    connect(view_, &GlyphView::problemChanged, this, &OverviewWindow::setStatus);
    connect(view_, &GlyphView::refused, this, &OverviewWindow::setStatus);
    connect(view_, &GlyphView::glyphMenuRequested, this, [this](Position position, const QPoint& at) {
        menuGlyph_ = position;
        glyphMenu_->exec(at);
    });
    connect(view_, &GlyphView::checksumLineChanged, this, [this](const QString& line) {
        checksum_->setText(line);
        checksum_->setVisible(!line.isEmpty());
    });
    connect(goTo_, &QLineEdit::returnPressed, this, &OverviewWindow::goToCharacter);
    // The boxes and the grid's menu entries are one setting.
    const auto showOrder = [this](DotOrder now) {
        const QSignalBlocker quietTop(bit0OnTop_);
        const QSignalBlocker quietLeft(firstByteLeft_);
        bit0OnTop_->setChecked(now.bit0OnTop);
        firstByteLeft_->setChecked(now.firstByteLeft);
    };
    showOrder(order.order());
    connect(&order, &DotOrderSetting::changed, this, showOrder);
    connect(bit0OnTop_, &QCheckBox::toggled, &order, &DotOrderSetting::setBit0OnTop);
    connect(firstByteLeft_, &QCheckBox::toggled, &order, &DotOrderSetting::setFirstByteLeft);

    setTabOrder(earlier, later);
    setTabOrder(later, dotSize_);
    setTabOrder(dotSize_, bit0OnTop_);
    setTabOrder(bit0OnTop_, firstByteLeft_);
    setTabOrder(firstByteLeft_, goTo_);
    setTabOrder(goTo_, findButton);
    setTabOrder(findButton, exportButton);
    setTabOrder(exportButton, importButton);
    setTabOrder(importButton, formatButton);
    setTabOrder(formatButton, view_);
    resize(760, 480);
    // The dot size the user left it at.
    const int dot = userSettings()->value(QStringLiteral("overview/dotSize"), view_->dotSize()).toInt();
    if (dot != view_->dotSize())
        dotSize_->setValue(std::clamp(dot, GlyphView::kSmallestDot, GlyphView::kLargestDot));
}

void OverviewWindow::setStatus(const QString& text)
{
    status_->setText(text);
}

void OverviewWindow::askCharacter(Position position)
{
    QInputDialog dialog(this);
    dialog.setWindowTitle(QString::fromLatin1(kApplicationName));
    dialog.setLabelText(QStringLiteral("The glyph at position %1 is the character (such as A, 65 or 0x41):")
                            .arg(QString::fromStdString(decimalText(position))));
    dialog.setInputMode(QInputDialog::TextInput);
    if (const auto code = view_->codeOf(position))
        dialog.setTextValue(QString::number(*code));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const TypedCharacter typed = readTypedCharacter(dialog.textValue().toStdString());
    if (!typed.code) {
        setStatus(QString::fromStdString(typed.problem));
        return;
    }
    if (view_->markCharacter(position, *typed.code))
        setStatus(QStringLiteral("The glyph at position %1 is character %2; the others are counted from it, one code a glyph.")
                .arg(QString::fromStdString(decimalText(position)), QString::fromStdString(codeText(*typed.code))));
}

void OverviewWindow::goToCharacter()
{
    const TypedCharacter typed = readTypedCharacter(goTo_->text().toStdString());
    if (!typed.code) {
        setStatus(QString::fromStdString(typed.problem));
        return;
    }
    const auto& mark = view_->characterMark();
    if (!mark) {
        setStatus(QStringLiteral("No glyph is named yet: right-click the glyph of a character you know and choose "
                           "\"This is character...\"."));
        return;
    }
    const Position position = positionOfCode(*mark, *typed.code, view_->layout().width());
    if (position.number() > view_->layout().length()) {
        setStatus(QStringLiteral("Character %1 would start at position %2, behind the end of the file.")
                .arg(QString::fromStdString(codeText(*typed.code)), QString::fromStdString(decimalText(position))));
        return;
    }
    view_->selectGlyph(position);
    view_->setFocus(Qt::OtherFocusReason);
    setStatus(QStringLiteral("Character %1 is at position %2: Enter goes there.")
            .arg(QString::fromStdString(codeText(*typed.code)), QString::fromStdString(decimalText(position))));
}

void OverviewWindow::exportGlyphs(Position first, std::int64_t proposed)
{
    const GlyphLayout& layout = view_->layout();
    const GlyphFormat glyphs = view_->format();
    const std::int64_t left = glyphsLeft(layout.length(), first, glyphs.step());
    QInputDialog howMany(this);
    howMany.setWindowTitle(QString::fromLatin1(kApplicationName));
    howMany.setInputMode(QInputDialog::IntInput);
    howMany.setLabelText(QStringLiteral("Glyphs (%1) to export from position %2:")
                             .arg(QString::fromStdString(glyphs.words()), QString::fromStdString(decimalText(first))));
    howMany.setIntRange(1, static_cast<int>(std::min<std::int64_t>(left, 65536)));
    howMany.setIntValue(static_cast<int>(std::min<std::int64_t>(proposed, left)));
    if (howMany.exec() != QDialog::Accepted)
        return;
    const int count = howMany.intValue();

    const QStringList formats{QStringLiteral("PNG sheet (*.png)"), QStringLiteral("BDF font (*.bdf)"),
                              QStringLiteral("C source (*.c)"), QStringLiteral("Raw bytes (*.bin)")};
    constexpr ExportFormat kFormats[] = {ExportFormat::PngSheet, ExportFormat::Bdf, ExportFormat::CSource,
                                         ExportFormat::Raw};
    const auto chosen = chooseFile(this, QStringLiteral("Export glyphs"), QStringLiteral("ExportDialog"), formats, true,
                                   QStringLiteral("folders/export"));
    if (!chosen)
        return;
    const QString path = chosen->path;
    // The extension typed picks the format; without one, the filter does.
    std::optional<ExportFormat> format = exportFormatOfPath(path.toStdString());
    if (!format && !hasExtension(path.toStdString())) {
        format = kFormats[std::max<qsizetype>(0, formats.indexOf(chosen->filter))];
    } else if (!format) {
        QInputDialog which(this);
        which.setWindowTitle(QString::fromLatin1(kApplicationName));
        which.setLabelText(QStringLiteral("\"%1\" names no format of its own. Export it as:")
                               .arg(QFileInfo(path).fileName()));
        which.setComboBoxItems(formats);
        which.setComboBoxEditable(false);
        which.setTextValue(chosen->filter);
        if (which.exec() != QDialog::Accepted)
            return;
        format = kFormats[std::max<qsizetype>(0, formats.indexOf(which.textValue()))];
    }

    const std::optional<PreviewReader::View> aside = readAside(view_->glyphsRequest(first, count));
    if (!aside)
        return;  // the user gave up waiting
    const PreviewReader::View& read = *aside;
    if (!read.problem.empty()) {
        warn(this, QString::fromStdString(read.problem));
        return;
    }
    GlyphRun run = GlyphRun::of(first, glyphs, read.bytes, count);
    run.mark = view_->characterMark();
    const QString shown = QDir::toNativeSeparators(path);
    QString why;
    QSaveFile file(path);
    if (*format == ExportFormat::PngSheet) {
        if (!file.open(QIODevice::WriteOnly) || !sheetImage(run).save(&file, "PNG") || !file.commit())
            why = file.errorString();
    } else {
        const std::string text = exportText(run, *format, cIdentifier(QFileInfo(path).completeBaseName().toStdString()));
        if (!file.open(QIODevice::WriteOnly)
            || file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())
            || !file.commit())
            why = file.errorString();
    }
    if (!why.isEmpty()) {
        warn(this, QStringLiteral("Cannot write the file \"%1\": %2.").arg(shown, why));
        return;
    }
    setStatus(QStringLiteral("%1 glyphs from position %2 written to \"%3\".")
            .arg(count)
            .arg(QString::fromStdString(decimalText(first)), shown));
}

void OverviewWindow::findFonts()
{
    const std::optional<ImageView> files = view_->image();
    if (!files)
        return;  // a copy owns the files: the button is pressed again once it has ended
    if (files->sourcePath.empty()) {
        setStatus(QStringLiteral("Choose a source file first: the scan reads it."));
        return;
    }
    if (fontsFound_ == nullptr) {
        fontsFound_ = new FontsFoundWindow(this);
        connect(fontsFound_, &FontsFoundWindow::chosen, this, &OverviewWindow::showFont);
        fontsFound_->move(frameGeometry().bottomLeft() + QPoint(0, 8));
        fitOnScreen(*fontsFound_, this);
    }
    fontsFound_->show();
    fontsFound_->raise();
    fontsFound_->scan(*files);
}

void OverviewWindow::showFont(const FontCandidate& candidate)
{
    order_.set(candidate.format.order);
    // Before a pass the owner selects the format and the starting offset.
    emit fontChosen(candidate);
    view_->alignTo(candidate.first);
    GlyphFormat shown = view_->format();
    shown.order = candidate.format.order;
    if (shown != candidate.format) {
        setStatus(QStringLiteral("%1: the pass is in the format %2, so the overview shows it so.")
                .arg(QString::fromStdString(describeCandidate(candidate)), QString::fromStdString(shown.words())));
    } else {
        setStatus(QString::fromStdString(describeCandidate(candidate)));
        // Its characters named, as "This is character..." would.
        if (candidate.firstCode)
            view_->markCharacter(candidate.first, *candidate.firstCode);
    }
    view_->refresh(candidate.first);
    raise();
    activateWindow();
    view_->setFocus(Qt::OtherFocusReason);
}

std::optional<PreviewReader::View> OverviewWindow::readAside(const PreviewReader::Request& request)
{
    // The read is the thread's: a share that hangs keeps it, not the window.
    struct Shared {
        std::mutex mutex;
        std::optional<PreviewReader::View> view;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, request] {
        PreviewReader::View view = PreviewReader::read(request);
        const std::lock_guard lock(shared->mutex);
        shared->view = std::move(view);
    }).detach();
    QProgressDialog waiting(QStringLiteral("Reading the glyphs to export..."), QStringLiteral("Cancel"), 0, 0, this);
    waiting.setWindowTitle(QString::fromLatin1(kApplicationName));
    waiting.setWindowModality(Qt::WindowModal);
    waiting.setMinimumDuration(500);
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        const std::lock_guard lock(shared->mutex);
        if (shared->view || waiting.wasCanceled())
            loop.quit();
    });
    poll.start();
    {
        const std::lock_guard lock(shared->mutex);
        if (shared->view)
            return std::move(shared->view);
    }
    loop.exec();
    const std::lock_guard lock(shared->mutex);
    if (!shared->view)
        return std::nullopt;
    return std::move(shared->view);
}

void OverviewWindow::restorePlace()
{
    const auto settings = userSettings();
    const QByteArray geometry = settings->value(QStringLiteral("overview/geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void OverviewWindow::hideEvent(QHideEvent* event)
{
    userSettings()->setValue(QStringLiteral("overview/geometry"), saveGeometry());
    QWidget::hideEvent(event);
}

void OverviewWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Back from another program, which may have changed the files.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        view_->refresh();
}

} // namespace dotmatrix
