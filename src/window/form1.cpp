#include "form1.h"

#include <cmath>

#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "dotcell.h"

namespace dotmatrix {

namespace {

// Layout is drawn in twips; 15 twips make a device-independent pixel at
// 96 dots per inch, and Qt scales that to the screen.
int px(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

QRect twipRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

template <typename Control>
Control* place(QWidget* parent, const QString& name, QRect geometry)
{
    auto* control = new Control(parent);
    control->setObjectName(name);
    control->setGeometry(geometry);
    return control;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    auto* control = place<QPushButton>(parent, QString::fromLatin1(name), geometry);
    control->setText(QString::fromLatin1(caption));
    control->setAutoDefault(false);
    return control;
}

QLineEdit* textBox(QWidget* parent, const char* name, QRect geometry, bool readOnly)
{
    auto* control = place<QLineEdit>(parent, QString::fromLatin1(name), geometry);
    control->setReadOnly(readOnly);
    return control;
}

QLabel* label(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    auto* control = place<QLabel>(parent, QString::fromLatin1(name), geometry);
    control->setText(QString::fromLatin1(caption));
    return control;
}

QString hex(qint64 value, int digits)
{
    return QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

QString binary(std::uint8_t byte)
{
    const QString bits = QString::number(byte, 2).rightJustified(8, u'0');
    return bits.left(4) + u' ' + bits.mid(4);
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
    setFixedSize(px(7032), px(4584));
    // The layout was drawn for a small interface font; larger defaults clip the captions.
    QFont small = font();
    small.setPointSizeF(7.5);
    setFont(small);
    createControls();
    curoffRepaint_.start();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    Loadfile = button(this, "Loadfile", "Source file...", twipRect(360, 240, 1212, 252));
    sfile = textBox(this, "sfile", twipRect(1800, 240, 5052, 288), true);
    ttext = textBox(this, "ttext", twipRect(1800, 600, 5052, 288), true);
    Savefile = button(this, "Savefile", "Target file...", twipRect(360, 600, 1212, 252));
    Label1 = label(this, "Label1", "Starting offset (dec.):", twipRect(360, 1080, 1680, 252));
    Offset = textBox(this, "Offset", twipRect(2040, 1080, 852, 288), false);
    Offset->setText(QStringLiteral("0000"));
    Offset->setAlignment(Qt::AlignRight);
    Csize = place<QGroupBox>(this, QStringLiteral("Csize"), twipRect(240, 1800, 3972, 972));
    Csize->setTitle(QStringLiteral("Character size: "));
    const int optionLeft[] = {120, 1200, 2280, 3120};
    for (int i = 0; i < 4; ++i) {
        auto* option = place<QRadioButton>(Csize, QStringLiteral("Symtype(%1)").arg(i), twipRect(optionLeft[i], 360, 612, 252));
        option->setText(QStringLiteral("%1x7").arg(4 + i));
        connect(option, &QRadioButton::toggled, this, [this, i](bool checked) {
            if (checked && !selectingSymtype_)
                Symtype_Click(i);
        });
        Symtype[static_cast<std::size_t>(i)] = option;
    }
    Symtype[1]->setChecked(true);
    StartButt = button(this, "StartButt", "Start processing", twipRect(480, 2880, 1572, 372));
    BackButt = button(this, "BackButt", "< Previous", twipRect(4440, 4080, 1092, 372));
    FwButt = button(this, "FwButt", "Next >", twipRect(5760, 4080, 1092, 372));
    SkipButt = button(this, "SkipButt", "Skip the rest", twipRect(2400, 2880, 1572, 372));
    Stepback = button(this, "Stepback", "-1", twipRect(2400, 3480, 612, 372));
    Stepfwd = button(this, "Stepfwd", "+1", twipRect(3360, 3480, 612, 372));
    curoff = textBox(this, "curoff", twipRect(2040, 1440, 852, 288), true);
    curoff->setText(QStringLiteral("0000"));
    curoff->setAlignment(Qt::AlignRight);
    Label2 = label(this, "Label2", "Current offset (dec.):", twipRect(360, 1440, 1680, 252));

    for (int n = 1; n <= kArrays; ++n) {
        for (int index = 0; index < kCellsPerArray; ++index) {
            auto* cell = place<DotCell>(this, QStringLiteral("Col%1(%2)").arg(n).arg(index),
                                        twipRect(4440 + 360 * (n - 1), 3480 - 360 * index, 252, 372));
            cell->setToolTipSource([this, n, index] { return cellToolTip(n, index); });
            connect(cell, &DotCell::clicked, this, [this, n, index] { Col_Click(n, index); });
            Col[static_cast<std::size_t>(n - 1)][static_cast<std::size_t>(index)] = cell;
        }
    }

    connect(Loadfile, &QPushButton::clicked, this, &Form1::Loadfile_Click);
    connect(Savefile, &QPushButton::clicked, this, &Form1::Savefile_Click);
    connect(StartButt, &QPushButton::clicked, this, [this] { pass_.start(); });
    connect(FwButt, &QPushButton::clicked, this, [this] { pass_.nextCharacter(); });
    connect(BackButt, &QPushButton::clicked, this, [this] { pass_.previousCharacter(); });
    connect(Stepfwd, &QPushButton::clicked, this, [this] { pass_.stepForward(); });
    connect(Stepback, &QPushButton::clicked, this, [this] { pass_.stepBack(); });
    connect(SkipButt, &QPushButton::clicked, this, [this] { pass_.skipRest(); });

    paintReadOnlyBoxes();
    for (QPushButton* control : findChildren<QPushButton*>())
        control->installEventFilter(this);

    // Keyboard order; the option group takes one stop, the selected option.
    QWidget* order[] = {Loadfile, sfile,     ttext,    Savefile, Offset,   Symtype[0], Symtype[1], Symtype[2],
                        Symtype[3], StartButt, BackButt, FwButt,   SkipButt, Stepback,   Stepfwd,    curoff};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
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
    QWidget::changeEvent(event);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
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

void Form1::closeEvent(QCloseEvent* event)
{
    if (pass_.isOpen()
        && ask(QString::fromStdString(pass_.closeQuestion()), QMessageBox::Close | QMessageBox::Cancel,
               QMessageBox::Cancel) != QMessageBox::Close) {
        event->ignore();
        return;
    }
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
    if (!filesMayChange())
        return;
    CommonDialog1.Flags = CommonDialog::kFileMustExist | CommonDialog::kHideReadOnly;
    CommonDialog1.Filter = QStringLiteral("All Files (*.*)|*.*");
    if (!CommonDialog1.ShowOpen(this))
        return;
    sfile->setText(CommonDialog1.FileName);
    pass_.setSourcePath(QFile::encodeName(CommonDialog1.FileName).toStdString());
}

void Form1::Savefile_Click()
{
    if (!filesMayChange())
        return;
    CommonDialog1.Flags = CommonDialog::kHideReadOnly;
    CommonDialog1.Filter = QStringLiteral("Firmware Files (*.rom)|*.rom|Firmware Files (*.bin)|*.bin");
    CommonDialog1.FilterIndex = 2;
    if (!CommonDialog1.ShowSave(this))
        return;
    // The dialog proposes the last name chosen, often the source: one Return
    // would make a pass edit the original in place.
    const std::string chosen = QFile::encodeName(CommonDialog1.FileName).toStdString();
    if (isSameFile(pass_.state().SourcePath, chosen)
        && ask(QStringLiteral("\"%1\" is the source file. A pass into it changes the source itself, in place, "
                              "with no way back.\n\nUse the source file as the target?")
                   .arg(CommonDialog1.FileName),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes)
        return;
    ttext->setText(CommonDialog1.FileName);
    pass_.setTargetPath(chosen);
}

void Form1::Col_Click(int arrayNumber, int index)
{
    // Cells beyond the character's width, or before any pass, are ignored.
    pass_.toggleDot(kArrays - arrayNumber, index);
}

void Form1::Symtype_Click(int /*index*/)
{
    if (!pass_.isOpen())
        return;  // outside a pass the selection alone changes; the next start reads it
    pass_.changeWidth();
    selectSymtypeOfCharWidth();
}

void Form1::selectSymtypeOfCharWidth()
{
    // A refused change keeps the old width: show the option that is in force.
    const auto index = static_cast<std::size_t>(pass_.state().CharWidth - 4);
    if (!pass_.isOpen() || index >= Symtype.size() || Symtype[index]->isChecked())
        return;
    selectingSymtype_ = true;
    Symtype[index]->setChecked(true);
    selectingSymtype_ = false;
}

QString Form1::cellToolTip(int arrayNumber, int index) const
{
    const WorkingState& state = pass_.state();
    const int column = kArrays - arrayNumber;
    if (!state.DotGrid.hasCell(column, index))
        return {};
    const std::uint8_t byte = state.DotGrid.columnByte(column);
    const qint64 position = (state.CurOffset + column).number();
    return QStringLiteral("Position %1, file offset 0x%2\nByte 0x%3 = %4\nBit %5")
        .arg(position)
        .arg(hex(position - 1, 8), hex(byte, 2), binary(byte))
        .arg(index);
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
    curoff->setText(QString::fromStdString(text));
    // During a long copy no events are handled: paint the count now and then.
    if (curoffRepaint_.elapsed() >= 50) {
        curoff->repaint();
        curoffRepaint_.restart();
    }
}

void Form1::setStartButtEnabled(bool enabled)
{
    StartButt->setEnabled(enabled);
}

void Form1::veskdisplay()
{
    const WorkingState& state = pass_.state();
    for (int column = 0; column < state.CharWidth; ++column) {
        auto& cells = Col[static_cast<std::size_t>(kArrays - 1 - column)];
        for (int bit = CharacterGrid::kBits - 1; bit >= 0; --bit)
            cells[static_cast<std::size_t>(bit)]->setLit(state.DotGrid.dot(column, bit) == 1);
    }
}

void Form1::showCompleted()
{
    showWarning(QStringLiteral("Completed"));
}

void Form1::showProblem(const std::string& message)
{
    showWarning(QString::fromStdString(message));
}

bool Form1::confirm(const std::string& question)
{
    return ask(QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

void Form1::setBusy(bool busy)
{
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void Form1::showWarning(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationName), text, QMessageBox::Ok, this);
    runBox(box);
}

int Form1::runBox(QMessageBox& box)
{
    // A box sizes itself to its text alone; "Completed" would cut the title.
    // The title bar's font is the desktop's: the window's, with room to spare,
    // plus the frame's buttons.
    QFont title = box.font();
    title.setBold(true);
    const int width = QFontMetrics(title).horizontalAdvance(box.windowTitle()) * 5 / 4 + 120;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    return box.exec();
}

QMessageBox::StandardButton Form1::ask(const QString& text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton safe)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kApplicationName), text, buttons, this);
    box.setDefaultButton(safe);
    box.setEscapeButton(safe);
    return static_cast<QMessageBox::StandardButton>(runBox(box));
}

} // namespace dotmatrix
