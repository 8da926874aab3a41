#include "overviewwindow.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "applicationname.h"
#include "offsettext.h"

namespace dotmatrix {

OverviewWindow::OverviewWindow(std::function<GlyphView::Files()> files, DotOrderSetting& order, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Overview"));
    setWindowTitle(QStringLiteral("Overview"));
    view_ = new GlyphView(std::move(files), this);
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
    auto* goToLabel = new QLabel(QStringLiteral("&Go to character:"), this);
    goToLabel->setBuddy(goTo_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("OverviewStatus"));
    status_->setWordWrap(true);
    checksum_ = new QLabel(this);
    checksum_->setObjectName(QStringLiteral("ChecksumLine"));
    checksum_->setWordWrap(true);
    checksum_->hide();

    auto* tools = new QHBoxLayout;
    tools->addWidget(earlier);
    tools->addWidget(later);
    tools->addSpacing(16);
    tools->addWidget(dotLabel);
    tools->addWidget(dotSize_);
    tools->addSpacing(16);
    tools->addWidget(bit0OnTop_);
    tools->addWidget(firstByteLeft_);
    tools->addSpacing(16);
    tools->addWidget(goToLabel);
    tools->addWidget(goTo_);
    tools->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(view_, 1);
    layout->addWidget(checksum_);
    layout->addWidget(status_);

    glyphMenu_ = new QMenu(this);
    glyphMenu_->addAction(QStringLiteral("This is character..."), this, [this] { askCharacter(menuGlyph_); });

    connect(earlier, &QPushButton::clicked, view_, [this] { view_->shiftAlignment(-1); });
    connect(later, &QPushButton::clicked, view_, [this] { view_->shiftAlignment(1); });
    connect(dotSize_, &QSpinBox::valueChanged, view_, &GlyphView::setDotSize);
    connect(view_, &GlyphView::dotSizeChanged, dotSize_, &QSpinBox::setValue);
    connect(view_, &GlyphView::activated, this, &OverviewWindow::jumpRequested);
    connect(view_, &GlyphView::problemChanged, this, &OverviewWindow::say);
    connect(view_, &GlyphView::refused, this, &OverviewWindow::say);
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
    setTabOrder(goTo_, view_);
    resize(760, 480);
}

void OverviewWindow::say(const QString& text)
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
        say(QString::fromStdString(typed.problem));
        return;
    }
    if (view_->markCharacter(position, *typed.code))
        say(QStringLiteral("The glyph at position %1 is character %2; the others are counted from it, one code a glyph.")
                .arg(QString::fromStdString(decimalText(position)), QString::fromStdString(codeText(*typed.code))));
}

void OverviewWindow::goToCharacter()
{
    const TypedCharacter typed = readTypedCharacter(goTo_->text().toStdString());
    if (!typed.code) {
        say(QString::fromStdString(typed.problem));
        return;
    }
    const auto& mark = view_->characterMark();
    if (!mark) {
        say(QStringLiteral("No glyph is named yet: right-click the glyph of a character you know and choose "
                           "\"This is character...\"."));
        return;
    }
    const Position position = positionOfCode(*mark, *typed.code, view_->layout().width());
    if (position.number() > view_->layout().length()) {
        say(QStringLiteral("Character %1 would start at position %2, behind the end of the file.")
                .arg(QString::fromStdString(codeText(*typed.code)), QString::fromStdString(decimalText(position))));
        return;
    }
    view_->selectGlyph(position);
    view_->setFocus(Qt::OtherFocusReason);
    say(QStringLiteral("Character %1 is at position %2: Enter goes there.")
            .arg(QString::fromStdString(codeText(*typed.code)), QString::fromStdString(decimalText(position))));
}

void OverviewWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Back from another program, which may have changed the files.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        view_->refresh();
}

} // namespace dotmatrix
