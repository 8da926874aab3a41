#include "form1.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QValidator>
#include <QWindow>

#include "dotcell.h"
#include "dotgridview.h"
#include "formatdialog.h"
#include "glyphexport.h"
#include "messagebox.h"
#include "overviewwindow.h"
#include "sheetimage.h"
#include "offsettext.h"
#include "taskwaiter.h"
#include "usersettings.h"

namespace dotmatrix {

namespace {

// The layout was drawn for this interface font, on a desktop whose own font
// has the usual size below; a larger desktop font grows the whole layout.
constexpr double kDrawnFontPoints = 7.5;
constexpr double kUsualDesktopPoints = 9.0;
// How often a question about a copy under way says again how far it has come.
constexpr int kFollowMilliseconds = 250;

// Takes any text but while a copy runs: a screen reader's change of a box
// passes through the box's validator, also while the box is disabled.
class NotWhileBusy : public QValidator {
public:
    NotWhileBusy(std::function<bool()> busy, QObject* parent) : QValidator(parent), busy_(std::move(busy)) {}
    State validate(QString& /*input*/, int& /*position*/) const override { return busy_() ? Invalid : Acceptable; }

private:
    std::function<bool()> busy_;
};

// Twips at a scale as device-independent pixels: 15 twips make a pixel at 96
// dots per inch, and Qt scales that to the screen.
int px(int twips, double scale)
{
    return static_cast<int>(std::lround(twips * scale / 15.0));
}

QRect twipRect(int left, int top, int width, int height)
{
    return {left, top, width, height};
}

double pointsOf(const QFont& font)
{
    return font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
}

// The width a box needs to show ten digits whole in its font.
int widthForTenDigits(const QLineEdit* box)
{
    QStyleOptionFrame panel;
    panel.initFrom(box);
    panel.rect = box->rect();
    panel.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, box);
    const QRect contents = box->style()->subElementRect(QStyle::SE_LineEditContents, &panel, box);
    // QLineEdit keeps 2 pixels each side of the text and one for the cursor.
    const int chrome = box->width() - contents.width() + box->textMargins().left() + box->textMargins().right() + 5;
    // Fonts don't scale in proportion: the widest digit at any usual screen scale.
    qreal digit = 0;
    for (const qreal scale : {1.0, 1.25, 1.5, 2.0}) {
        QFont scaled = box->font();
        scaled.setPointSizeF(scaled.pointSizeF() * scale);
        const QFontMetricsF metrics(scaled);
        for (char c = '0'; c <= '9'; ++c)
            digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(c)) / scale);
    }
    return static_cast<int>(std::ceil(digit * 10)) + chrome;
}

// A path as the pass takes it: the system's own bytes on POSIX systems,
// UTF-8 on Windows, whose platform layer turns it into UTF-16.
std::string passPath(const QString& path)
{
#ifdef Q_OS_WIN
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Dot matrix character generator by Quillmorn"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/dotmatrix-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    createControls();
    arrangeControls();
    waiter_ = new TaskWaiter(*this, [this](Position done) { setCuroffText(decimalText(done)); });
    lookWatch_.setInterval(250);
    connect(&lookWatch_, &QTimer::timeout, this, [this] {
        if (pass_.lookingForChecksum())
            return;
        lookWatch_.stop();
        curoff->setToolTip(QString::fromStdString(pass_.checksumLine()));
        refreshOverview();
    });
    // A file dropped on the window is chosen as a dialog would choose it.
    setAcceptDrops(true);
    restoreSettings();
    showFormatInForce();
    // Hears the desktop's font changes.
    qApp->installEventFilter(this);
}

template <typename Control>
Control* Form1::place(QWidget* parent, const QString& name, QRect twips)
{
    auto* control = new Control(parent);
    control->setObjectName(name);
    placed_.push_back({control, twips});
    return control;
}

void Form1::arrangeControls()
{
    // At the usual desktop font the window is exactly as drawn, in its small
    // font; a larger desktop font grows font and layout alike.
    layoutScale_ = std::max(1.0, pointsOf(QApplication::font()) / kUsualDesktopPoints);
    QFont small = QApplication::font();
    small.setPointSizeF(kDrawnFontPoints * layoutScale_);
    setFont(small);
    const double scale = layoutScale_;
    for (const Placed& placed : placed_) {
        const QRect& twips = placed.twips;
        placed.control->setGeometry(px(twips.left(), scale), px(twips.top(), scale), px(twips.width(), scale),
                                    px(twips.height(), scale));
    }
    setFixedSize(px(windowTwips_.width(), scale), px(windowTwips_.height(), scale));
    // Positions have up to ten digits. Where the drawn width can't show them
    // in this font, the box grows to the right, into the free space beside it.
    for (QLineEdit* box : {Offset, curoff})
        box->resize(std::max(box->width(), widthForTenDigits(box)), box->height());
}

void Form1::screenChanged()
{
    // The platform first keeps the window's size in its pixels, which on a
    // screen of another scale is the wrong size; once it has, the layout's
    // size is set again.
    QTimer::singleShot(0, this, &Form1::keepOnScreen);
}

void Form1::keepOnScreen()
{
    // A window that would stick out of its new screen is moved in.
    arrangeControls();
    const QScreen* screen = this->screen();
    if (screen == nullptr || !isVisible())
        return;
    const QRect available = screen->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveRight(std::min(frame.right(), available.right()));
    frame.moveBottom(std::min(frame.bottom(), available.bottom()));
    frame.moveLeft(std::max(frame.left(), available.left()));
    frame.moveTop(std::max(frame.top(), available.top()));
    if (frame.topLeft() != frameGeometry().topLeft())
        move(frame.topLeft());
}


Form1::~Form1() = default;

void Form1::createControls()
{
    const auto button = [this](const char* name, const char* caption, QRect twips) {
        auto* control = place<QPushButton>(this, QString::fromLatin1(name), twips);
        control->setText(QString::fromLatin1(caption));
        control->setAutoDefault(false);
        return control;
    };
    const auto textBox = [this](const char* name, QRect twips, bool readOnly) {
        auto* control = place<QLineEdit>(this, QString::fromLatin1(name), twips);
        control->setReadOnly(readOnly);
        return control;
    };
    const auto label = [this](const char* name, const char* caption, QRect twips, QWidget* buddy) {
        auto* control = place<QLabel>(this, QString::fromLatin1(name), twips);
        control->setText(QString::fromLatin1(caption));
        control->setBuddy(buddy);  // names the box for screen readers
        return control;
    };
    Loadfile = button("Loadfile", "&Source file...", twipRect(360, 240, 1212, 252));
    sfile = textBox("sfile", twipRect(1800, 240, 5052, 288), true);
    sfile->setAccessibleName(QStringLiteral("Source file"));
    ttext = textBox("ttext", twipRect(1800, 600, 5052, 288), true);
    ttext->setAccessibleName(QStringLiteral("Target file"));
    Savefile = button("Savefile", "&Target file...", twipRect(360, 600, 1212, 252));
    Offset = textBox("Offset", twipRect(2040, 1080, 852, 288), false);
    Label1 = label("Label1", "Starting &offset (dec.):", twipRect(360, 1080, 1680, 252), Offset);
    Offset->setText(QStringLiteral("0000"));
    Offset->setValidator(new NotWhileBusy([this] { return pass_.isBusy(); }, Offset));
    Offset->setAlignment(Qt::AlignRight);
    Csize = place<QGroupBox>(this, QStringLiteral("Csize"), twipRect(240, 1800, 3972, 972));
    Csize->setTitle(QStringLiteral("Character size: "));
    const int optionLeft[] = {120, 1200, 2280, 3120};
    for (int i = 0; i < 4; ++i) {
        auto* option = place<QRadioButton>(Csize, QStringLiteral("Symtype(%1)").arg(i), twipRect(optionLeft[i], 360, 612, 252));
        option->setText(QStringLiteral("&%1x7").arg(4 + i));
        connect(option, &QRadioButton::toggled, this, [this, i](bool checked) {
            if (checked && !selectingSymtype_) {
                otherFormat_.reset();
                userSettings()->remove(QStringLiteral("format/other"));
                Symtype_Click(i);
            }
        });
        Symtype[static_cast<std::size_t>(i)] = option;
    }
    selectingSymtype_ = true;
    Symtype[1]->setChecked(true);
    selectingSymtype_ = false;
    OtherFormat = place<QPushButton>(Csize, QStringLiteral("OtherFormat"), twipRect(120, 640, 1572, 288));
    OtherFormat->setText(QStringLiteral("Ot&her format..."));
    OtherFormat->setAutoDefault(false);

    FormatWords = place<QLabel>(this, QStringLiteral("FormatWords"), twipRect(360, 4080, 3840, 372));
    FormatWords->setWordWrap(true);
    FormatWords->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FormatWords->hide();
    StartButt = button("StartButt", "St&art processing", twipRect(480, 2880, 1572, 372));
    BackButt = button("BackButt", "< &Previous", twipRect(4440, 4080, 1092, 372));
    FwButt = button("FwButt", "&Next >", twipRect(5760, 4080, 1092, 372));
    SkipButt = button("SkipButt", "S&kip the rest", twipRect(2400, 2880, 1572, 372));
    Stepback = button("Stepback", "-1", twipRect(2400, 3480, 612, 372));
    Stepfwd = button("Stepfwd", "+1", twipRect(3360, 3480, 612, 372));
    OverviewButt = button("OverviewButt", "O&verview...", twipRect(480, 3480, 1572, 372));
    curoff = textBox("curoff", twipRect(2040, 1440, 852, 288), true);
    curoff->setText(QStringLiteral("0000"));
    curoff->setAlignment(Qt::AlignRight);
    Label2 = label("Label2", "&Current offset (dec.):", twipRect(360, 1440, 1680, 252), curoff);

    // Before any pass the mark may visit the columns of the selected size.
    dotOrder_ = new DotOrderSetting(this);
    grid_ = new DotGridView(pass_, *dotOrder_, [this] { return selectedFormat(); }, this);
    connect(dotOrder_, &DotOrderSetting::changed, this, [this] { refreshOverview(); });
    grid_->setObjectName(QStringLiteral("DotGridView"));
    placed_.push_back({grid_, QRect(QPoint(4440, 960), grid_->twipSize())});
    for (const auto& [cell, twips] : grid_->cellPlaces())
        placed_.push_back({cell, twips});
    connect(grid_, &DotGridView::problem, this, &Form1::showWarning);
    connect(grid_, &DotGridView::shapeChanged, this, &Form1::fitGrid);
    connect(dotOrder_, &DotOrderSetting::changed, this, [this] { showFormatInForce(); });
    connect(OtherFormat, &QPushButton::clicked, this, [this] { OtherFormat_Click(); });

    connect(Loadfile, &QPushButton::clicked, this, &Form1::Loadfile_Click);
    connect(Savefile, &QPushButton::clicked, this, &Form1::Savefile_Click);
    connect(StartButt, &QPushButton::clicked, this, [this] { pass_.start(); });
    connect(FwButt, &QPushButton::clicked, this, [this] { pass_.nextCharacter(); });
    connect(BackButt, &QPushButton::clicked, this, [this] { pass_.previousCharacter(); });
    connect(Stepfwd, &QPushButton::clicked, this, [this] { pass_.stepForward(); });
    connect(Stepback, &QPushButton::clicked, this, [this] { pass_.stepBack(); });
    connect(SkipButt, &QPushButton::clicked, this, [this] { pass_.skipRest(); });
    connect(OverviewButt, &QPushButton::clicked, this, &Form1::OverviewButt_Click);

    paintReadOnlyBoxes();
    for (QPushButton* control : findChildren<QPushButton*>())
        control->installEventFilter(this);
    // The grid's shortcuts act in the whole window, but text boxes keep their keys.
    for (QLineEdit* box : findChildren<QLineEdit*>())
        box->installEventFilter(this);

    // Keyboard order. The option group is one stop, the selected option; the
    // grid is one stop, the cell that holds the mark.
    QWidget* order[] = {Loadfile,   sfile,     ttext,    Savefile, Offset,   Symtype[0],
                        Symtype[1], Symtype[2], Symtype[3], OtherFormat, StartButt, BackButt, FwButt,
                        SkipButt,   grid_->markedCell(), Stepback, Stepfwd, OverviewButt, curoff};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    grid_->setTabNeighbours(SkipButt, Stepback);
    giveTabStopToSelectedSymtype();
}

void Form1::giveTabStopToSelectedSymtype()
{
    // Tab enters the group at the selected option; the arrow keys move the
    // selection, as Qt does once an option has had focus.
    for (QRadioButton* option : Symtype)
        option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void Form1::paintReadOnlyBoxes()
{
    // Read-only boxes show the button face of the palette in force.
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Button));
    for (QLineEdit* box : {sfile, ttext, curoff})
        box->setPalette(colours);
}

void Form1::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        paintReadOnlyBoxes();
    if (event->type() == QEvent::StyleChange)
        arrangeControls();
    QWidget::changeEvent(event);
}

bool Form1::event(QEvent* event)
{
    if (event->type() == QEvent::Show && windowHandle() != nullptr)
        connect(windowHandle(), &QWindow::screenChanged, this, &Form1::screenChanged, Qt::UniqueConnection);
    return QWidget::event(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationFontChange)
        arrangeControls();
    if (event->type() == QEvent::ShortcutOverride && qobject_cast<QLineEdit*>(watched) != nullptr) {
        // Accepting the override hands the key to the box as a key press.
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QAction* action : grid_->shortcutActions()) {
            if (action->shortcuts().contains(pressed)) {
                event->accept();
                return true;
            }
        }
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* pressed = qobject_cast<QPushButton*>(watched);
        if (pressed != nullptr && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && key->modifiers() == Qt::NoModifier && !key->isAutoRepeat()) {
            pressed->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::restoreSettings()
{
    const auto settings = userSettings();
    const int width = settings->value(QStringLiteral("format/width"), 5).toInt();
    if (width >= 4 && width <= 7) {
        selectingSymtype_ = true;
        Symtype[static_cast<std::size_t>(width - 4)]->setChecked(true);
        selectingSymtype_ = false;
    }
    dotOrder_->set({settings->value(QStringLiteral("format/bit0OnTop"), false).toBool(),
                    settings->value(QStringLiteral("format/firstByteLeft"), false).toBool()});
    const GlyphFormatReading other = readGlyphFormat(settings->value(QStringLiteral("format/other")).toString().toStdString());
    if (other.format && !other.format->isOriginal()) {
        otherFormat_ = other.format;
        showFormatInForce();
        grid_->display();
    }
    const QVariant place = settings->value(QStringLiteral("window/position"));
    if (place.isValid()) {
        move(place.toPoint());
        // An arrangement of screens that has changed since: back onto one.
        fitOnScreen(*this);
    }
    // From here on every change is remembered.
    connect(dotOrder_, &DotOrderSetting::changed, this, [](DotOrder order) {
        const auto changed = userSettings();
        changed->setValue(QStringLiteral("format/bit0OnTop"), order.bit0OnTop);
        changed->setValue(QStringLiteral("format/firstByteLeft"), order.firstByteLeft);
    });
    for (std::size_t i = 0; i < Symtype.size(); ++i) {
        connect(Symtype[i], &QRadioButton::toggled, this, [i](bool checked) {
            if (checked)
                userSettings()->setValue(QStringLiteral("format/width"), static_cast<int>(4 + i));
        });
    }
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Once the user has agreed, the window closes when the task is over.
    if (waiter_->closing() && waiter_->waiting()) {
        event->ignore();
        return;
    }
    // During a copy the question follows it: what it says stays true.
    // A path is one word: the box breaks lines at its spaces only.
    const auto question = [this] {
        QString text = QString::fromStdString(pass_.closeQuestion());
        const QString path = QString::fromStdString(pass_.state().TargetPath);
        return path.isEmpty() ? text : text.replace(path, QString(path).replace(u' ', QChar(0x00A0)));
    };
    if ((waiter_->waiting() || (pass_.isOpen() && !waiter_->closing()))
        && ask(question(), QMessageBox::Close | QMessageBox::Cancel, QMessageBox::Cancel,
               waiter_->waiting() ? question : std::function<QString()>())
               != QMessageBox::Close) {
        event->ignore();
        return;
    }
    if (waiter_->waiting()) {
        // A copy stops at the end of its piece, and the windows go at once;
        // a sync runs to its end in sight. The program ends with the task.
        if (waiter_->closeWhenDone()) {
            hide();
            if (overview_ != nullptr)
                overview_->hide();
        }
        event->ignore();
        return;
    }
    // The overview goes with the window, without a question of its own.
    if (overview_ != nullptr)
        overview_->close();
    userSettings()->setValue(QStringLiteral("window/position"), pos());
    event->accept();
}

bool Form1::filesMayChange()
{
    if (!pass_.isOpen())
        return true;
    showWarning(QStringLiteral("A pass is open on the files chosen when it started. Files can be chosen once "
                               "\"Skip the rest\" has ended the pass."));
    return false;
}

void Form1::Loadfile_Click()
{
    if (pass_.isBusy() || !filesMayChange())
        return;
    CommonDialog1.Flags = CommonDialog::kFileMustExist | CommonDialog::kHideReadOnly;
    CommonDialog1.Filter = QStringLiteral("All Files (*.*)|*.*");
    CommonDialog1.InitDir = userSettings()->value(QStringLiteral("folders/source")).toString();
    if (!CommonDialog1.ShowOpen(this))
        return;
    if (chooseSource(CommonDialog1.FileName))
        userSettings()->setValue(QStringLiteral("folders/source"), QFileInfo(CommonDialog1.FileName).absolutePath());
}

void Form1::Savefile_Click()
{
    if (pass_.isBusy() || !filesMayChange())
        return;
    CommonDialog1.Flags = CommonDialog::kHideReadOnly;
    CommonDialog1.Filter = QStringLiteral("Firmware Files (*.rom)|*.rom|Firmware Files (*.bin)|*.bin");
    CommonDialog1.FilterIndex = 2;
    CommonDialog1.InitDir = userSettings()->value(QStringLiteral("folders/target")).toString();
    if (!CommonDialog1.ShowSave(this))
        return;
    if (chooseTarget(CommonDialog1.FileName))
        userSettings()->setValue(QStringLiteral("folders/target"), QFileInfo(CommonDialog1.FileName).absolutePath());
}

bool Form1::chooseSource(const QString& path)
{
    // Shown, and named in every message, as the system writes paths.
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        showWarning(QStringLiteral("The source file \"%1\" does not exist.").arg(shown));
        return false;
    }
    const std::string chosen = passPath(shown);
    if (!oneFileMayServeBoth(shown, pass_.state().TargetPath, PassFile::SourceFile))
        return false;
    if (!pass_.setSourcePath(chosen))
        return false;
    sfile->setText(shown);
    refreshOverview();
    return true;
}

bool Form1::chooseTarget(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const std::string chosen = passPath(shown);
    if (!oneFileMayServeBoth(shown, pass_.state().SourcePath, PassFile::TargetFile))
        return false;
    if (!pass_.setTargetPath(chosen))
        return false;
    ttext->setText(shown);
    return true;
}

void Form1::openFiles(const QString& source, const QString& target)
{
    if (!source.isEmpty())
        chooseSource(QFileInfo(source).absoluteFilePath());
    if (!target.isEmpty())
        chooseTarget(QFileInfo(target).absoluteFilePath());
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    if (pass_.isBusy() || !filesMayChange())
        return;
    // On the target's path it is the target; anywhere else, the source.
    const QWidget* at = childAt(event->position().toPoint());
    if (at == ttext || at == Savefile)
        chooseTarget(urls.front().toLocalFile());
    else
        chooseSource(urls.front().toLocalFile());
}

bool Form1::oneFileMayServeBoth(const QString& shown, const std::string& other, PassFile chosenAs)
{
    // The dialogs propose the last name chosen in either: one Return would
    // make a pass edit the original in place.
    if (!isSameFile(passPath(shown), other))
        return true;
    const bool asSource = chosenAs == PassFile::SourceFile;
    const QString question =
        QStringLiteral("\"%1\" is the %2 file. A pass %3 it changes the source itself, in place, with no way "
                       "back.\n\nUse the %2 file as the %4?")
            .arg(shown, asSource ? QStringLiteral("target") : QStringLiteral("source"),
                 asSource ? QStringLiteral("from") : QStringLiteral("into"),
                 asSource ? QStringLiteral("source") : QStringLiteral("target"));
    return ask(question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void Form1::OverviewButt_Click()
{
    if (overview_ == nullptr) {
        overview_ = new OverviewWindow(*dotOrder_, this);
        connect(overview_, &OverviewWindow::jumpRequested, this, &Form1::goToGlyph);
        connect(overview_, &OverviewWindow::importRequested, this, &Form1::importSheet);
        connect(overview_, &OverviewWindow::formatRequested, this, [this] { OtherFormat_Click(overview_); });
        connect(overview_, &OverviewWindow::fontChosen, this, [this](const FontCandidate& candidate) {
            if (pass_.isOpen() || pass_.isBusy())
                return;  // the overview moves there alone; a click jumps
            Offset->setText(QString::fromStdString(decimalText(candidate.first)));
            chooseFormat(candidate.format);
        });
        // Beside the main window, where the screen has room.
        overview_->move(frameGeometry().topRight() + QPoint(8, 0));
        overview_->restorePlace();
    }
    // On the main window's screen, wherever it stood before.
    fitOnScreen(*overview_, this);
    overview_->show();
    overview_->raise();
    overview_->activateWindow();
    // Glyphs start where the user has said a character starts.
    const ImageView shown = image();
    overview_->view()->setImage(shown);
    if (shown.anchor)
        overview_->view()->alignTo(*shown.anchor);
    refreshOverview(shown.anchor);
}

ImageView Form1::image() const
{
    ImageView view = pass_.imageView(selectedFormat());
    view.format.order = dotOrder_->order();
    return view;
}

void Form1::refreshOverview(std::optional<Position> show)
{
    overviewStale_ = false;
    if (overview_ != nullptr && overview_->isVisible()) {
        overview_->view()->setImage(image());
        overview_->view()->refresh(show);
    }
}

void Form1::goToGlyph(Position position)
{
    if (pass_.isBusy())
        return;
    if (!pass_.isOpen()) {
        // Ready for "Start processing".
        Offset->setText(QString::fromStdString(decimalText(position)));
        refreshOverview();
        return;
    }
    pass_.jumpTo(position);
}

void Form1::importSheet(Position first)
{
    if (pass_.isBusy())
        return;
    if (!pass_.isOpen()) {
        showWarning(QStringLiteral("A sheet is written into the target of a pass: start one, then import."));
        return;
    }
    const auto chosen = chooseFile(overview_ != nullptr ? static_cast<QWidget*>(overview_) : this,
                                   QStringLiteral("Import PNG"), QStringLiteral("ImportDialog"),
                                   {QStringLiteral("PNG sheet (*.png)"), QStringLiteral("All files (*)")}, false,
                                   QStringLiteral("folders/import"));
    if (!chosen)
        return;
    GlyphFormat format = pass_.format();
    format.order = dotOrder_->order();
    const SheetForPass sheet = readSheetForPass(chosen->path, format);
    if (!sheet.problem.isEmpty()) {
        showWarning(sheet.problem);
        return;
    }
    pass_.importGlyphs(sheet.position.value_or(first), sheet.bytes);
}

void Form1::Symtype_Click(int /*index*/)
{
    showFormatInForce();
    refreshOverview();
    if (!pass_.isOpen() || pass_.isBusy()) {
        grid_->display();
        return;  // outside a pass the selection alone changes; the next start reads it
    }
    pass_.changeWidth();
    selectSymtypeOfCharWidth();
}

void Form1::selectSymtypeOfCharWidth()
{
    // A refused change keeps the old format: show the one that is in force.
    if (!pass_.isOpen())
        return;
    const GlyphFormat inForce = pass_.format();
    if (!inForce.isOriginal()) {
        otherFormat_ = inForce;
        userSettings()->setValue(QStringLiteral("format/other"), QString::fromStdString(inForce.words()));
        showFormatInForce();
        return;
    }
    otherFormat_.reset();
    const auto index = static_cast<std::size_t>(inForce.width - 4);
    if (!Symtype[index]->isChecked()) {
        selectingSymtype_ = true;
        Symtype[index]->setChecked(true);
        selectingSymtype_ = false;
    }
    showFormatInForce();
}

void Form1::OtherFormat_Click(QWidget* over)
{
    if (pass_.isBusy())
        return;
    FormatDialog dialog(selectedFormat(), over != nullptr ? over : this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    chooseFormat(dialog.format());
}

void Form1::chooseFormat(const GlyphFormat& format)
{
    dotOrder_->set(format.order);
    if (format.isOriginal()) {
        Symtype[static_cast<std::size_t>(format.width - 4)]->setChecked(true);
        return;
    }
    otherFormat_ = format;
    userSettings()->setValue(QStringLiteral("format/other"), QString::fromStdString(format.words()));
    Symtype_Click(-1);
}

GlyphFormat Form1::selectedFormat() const
{
    GlyphFormat format = otherFormat_.value_or(GlyphFormat::original(ConversionPass::widthSelected(selectedSymtype())));
    format.order = dotOrder_->order();
    return format;
}

std::optional<GlyphFormat> Form1::chosenFormat() const
{
    if (!otherFormat_)
        return std::nullopt;
    return selectedFormat();
}

void Form1::showFormatInForce()
{
    // With another format in force no option is selected; the group keeps
    // one Tab stop, the button.
    for (QRadioButton* option : Symtype)
        option->setAutoExclusive(!otherFormat_);
    if (otherFormat_) {
        selectingSymtype_ = true;
        for (QRadioButton* option : Symtype)
            option->setChecked(false);
        selectingSymtype_ = false;
    }
    giveTabStopToSelectedSymtype();
    const QString words = otherFormat_ ? QStringLiteral("Format: %1").arg(QString::fromStdString(selectedFormat().words()))
                                       : QString();
    FormatWords->setText(words);
    FormatWords->setVisible(otherFormat_.has_value());
    OtherFormat->setAccessibleDescription(words);
    const QString tip = QStringLiteral("Glyphs of any size: bytes as columns or rows, up to 32 x 32 dots, further apart "
                                       "than their bytes");
    OtherFormat->setToolTip(words.isEmpty() ? tip : tip + u'\n' + words);
}

void Form1::fitGrid()
{
    // The grid keeps its top left corner; the buttons below it and the window follow its size.
    const QSize grid = grid_->twipSize();
    const int below = std::max(4080, 960 + grid.height() + 228);
    windowTwips_ = QSize(std::max(7032, 4440 + grid.width() + 180), std::max(4584, below + 504));
    for (Placed& placed : placed_) {
        if (placed.control == grid_)
            placed.twips.setSize(grid);
        else if (placed.control == BackButt || placed.control == FwButt)
            placed.twips.moveTop(below);
    }
    arrangeControls();
    if (isVisible())
        fitOnScreen(*this);
}

QString Form1::cellToolTip(int arrayNumber, int index) const
{
    return grid_->cellToolTip(arrayNumber, index);
}

std::string Form1::offsetText() const
{
    return Offset->text().toStdString();
}

int Form1::selectedSymtype() const
{
    for (std::size_t i = 0; i < Symtype.size(); ++i) {
        if (Symtype[i]->isChecked())
            return static_cast<int>(i);
    }
    return -1;
}

void Form1::setCuroffText(const std::string& text)
{
    // A screen reader reads out every change: only real ones are made.
    const QString shown = QString::fromStdString(text);
    if (curoff->text() != shown)
        curoff->setText(shown);
}

void Form1::setStartButtEnabled(bool enabled)
{
    // Focus moves on to the next thing a user does, not to "< Previous";
    // a start that opens no pass gives it back.
    if (!enabled && focusWidget() == StartButt) {
        FwButt->setFocus(Qt::OtherFocusReason);
        startGaveFocus_ = true;
    }
    StartButt->setEnabled(enabled);
    if (enabled && startGaveFocus_ && focusWidget() == FwButt)
        StartButt->setFocus(Qt::OtherFocusReason);
    if (enabled)
        startGaveFocus_ = false;
    refreshOverview();
    grid_->updateActions();
}

void Form1::characterRenewed()
{
    grid_->endHistory();
    // A capture repaints the overview itself; a write-back alone (a refused
    // move) has it read once the operation is over.
    if (!overviewStale_) {
        overviewStale_ = true;
        QMetaObject::invokeMethod(this, [this] {
            if (overviewStale_)
                refreshOverview();
        }, Qt::QueuedConnection);
    }
}

void Form1::veskdisplay()
{
    startGaveFocus_ = false;  // the pass is open: "Next >" is what comes next
    curoff->setToolTip(QString::fromStdString(pass_.checksumLine()));
    if (pass_.lookingForChecksum())
        lookWatch_.start();
    grid_->display();
    refreshOverview(pass_.state().CurOffset);
}

void Form1::showCompleted(const std::string& note)
{
    // Where the user closed the window meanwhile, it goes without a word.
    if (waiter_->closing())
        return;
    // Done and checked: news, not a warning.
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kApplicationName),
                    note.empty() ? QStringLiteral("Completed")
                                 : QStringLiteral("Completed\n\n") + QString::fromStdString(note),
                    QMessageBox::Ok, this);
    runBox(box);
}

void Form1::showProblem(const std::string& message)
{
    showWarning(QString::fromStdString(message));
}

bool Form1::confirm(Asking /*asking*/, const std::string& question, bool yesByDefault)
{
    if (waiter_->closing())
        return false;
    // Escape is No, whichever answer Return gives.
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kApplicationName), QString::fromStdString(question),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return runBox(box) == QMessageBox::Yes;
}

void Form1::runTask(BackgroundTask& task)
{
    waiter_->run(task);
}

void Form1::busyChanged()
{
    if (overview_ != nullptr)
        overview_->view()->setImage(image());
}

void Form1::showStopped(const std::string& message)
{
    if (!waiter_->closing())
        showWarning(QString::fromStdString(message));
}

void Form1::showWarning(const QString& text)
{
    warn(this, text);
}

QMessageBox::StandardButton Form1::ask(const QString& text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton safe, const std::function<QString()>& follow)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kApplicationName), text, buttons, this);
    box.setDefaultButton(safe);
    box.setEscapeButton(safe);
    QTimer keepUp;
    if (follow) {
        connect(&keepUp, &QTimer::timeout, &box, [&box, &follow] {
            const QString now = follow();
            if (now != box.text())
                box.setText(now);
        });
        keepUp.start(kFollowMilliseconds);
    }
    return static_cast<QMessageBox::StandardButton>(runBox(box));
}

} // namespace dotmatrix
