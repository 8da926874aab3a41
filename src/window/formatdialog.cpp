#include "formatdialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "applicationname.h"

namespace dotmatrix {

namespace {

constexpr int kLongestPitch = 4096;

} // namespace

FormatDialog::FormatDialog(const GlyphFormat& shown, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormatDialog"));
    setWindowTitle(QString::fromLatin1(kApplicationName));
    lines_ = new QComboBox(this);
    lines_->setObjectName(QStringLiteral("FormatLines"));
    lines_->addItems({QStringLiteral("Columns"), QStringLiteral("Rows")});
    lines_->setCurrentIndex(shown.lines == GlyphFormat::Lines::Rows ? 1 : 0);
    const auto dots = [this](const char* name, int value) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(1, GlyphFormat::kLargest);
        box->setSuffix(QStringLiteral(" dots"));
        box->setValue(value);
        return box;
    };
    width_ = dots("FormatWidth", shown.width);
    height_ = dots("FormatHeight", shown.height);
    pages_ = new QComboBox(this);
    pages_->setObjectName(QStringLiteral("FormatPages"));
    pages_->addItems({QStringLiteral("Column by column"), QStringLiteral("Page by page")});
    pages_->setCurrentIndex(shown.pages == GlyphFormat::Pages::PageByPage ? 1 : 0);
    pages_->setToolTip(QStringLiteral("Column by column: each column's bytes together. Page by page: the top 8 rows of "
                                      "every column first, then the next 8, as OLED controllers keep them."));
    bit0_ = new QCheckBox(this);
    bit0_->setObjectName(QStringLiteral("FormatBit0"));
    bit0_->setChecked(shown.order.bit0OnTop);
    firstByte_ = new QCheckBox(this);
    firstByte_->setObjectName(QStringLiteral("FormatFirstByte"));
    firstByte_->setChecked(shown.order.firstByteLeft);
    pitch_ = new QSpinBox(this);
    pitch_->setObjectName(QStringLiteral("FormatPitch"));
    pitch_->setSuffix(QStringLiteral(" bytes"));
    pitch_->setRange(1, kLongestPitch);
    pitch_->setToolTip(QStringLiteral("The bytes from the start of one glyph to the start of the next. Bytes between "
                                      "glyphs are never changed."));
    glyphBytes_ = shown.glyphBytes();
    pitch_->setValue(shown.step());
    words_ = new QLabel(this);
    words_->setObjectName(QStringLiteral("FormatWords"));
    words_->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Bytes hold:"), lines_);
    form->addRow(QStringLiteral("&Width:"), width_);
    form->addRow(QStringLiteral("&Height:"), height_);
    form->addRow(QStringLiteral("&Tall columns:"), pages_);
    form->addRow(QString(), bit0_);
    form->addRow(QString(), firstByte_);
    form->addRow(QStringLiteral("&Pitch:"), pitch_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(words_);
    layout->addWidget(buttons);

    connect(lines_, &QComboBox::currentIndexChanged, this, &FormatDialog::follow);
    for (QSpinBox* box : {width_, height_, pitch_})
        connect(box, &QSpinBox::valueChanged, this, &FormatDialog::follow);
    connect(pages_, &QComboBox::currentIndexChanged, this, &FormatDialog::follow);
    for (QCheckBox* box : {bit0_, firstByte_})
        connect(box, &QCheckBox::toggled, this, &FormatDialog::follow);
    follow();
}

GlyphFormat FormatDialog::format() const
{
    GlyphFormat format;
    format.lines = lines_->currentIndex() == 1 ? GlyphFormat::Lines::Rows : GlyphFormat::Lines::Columns;
    format.width = width_->value();
    format.height = height_->value();
    format.pages = pages_->currentIndex() == 1 ? GlyphFormat::Pages::PageByPage : GlyphFormat::Pages::ColumnByColumn;
    format.order = {bit0_->isChecked(), firstByte_->isChecked()};
    format.pitch = pitch_->value() > format.glyphBytes() ? pitch_->value() : 0;
    return format;
}

void FormatDialog::follow()
{
    const bool rows = lines_->currentIndex() == 1;
    bit0_->setText(rows ? QStringLiteral("Bit &0 on the left") : QStringLiteral("Bit &0 on top"));
    firstByte_->setText(rows ? QStringLiteral("First &row at the bottom") : QStringLiteral("First b&yte on the left"));
    pages_->setEnabled(!rows && height_->value() > 8);
    GlyphFormat shape = format();
    shape.pitch = 0;
    const int bytes = shape.glyphBytes();
    {
        // A pitch that was the glyph's own bytes stays so as the glyph changes.
        const QSignalBlocker quiet(pitch_);
        const bool followed = pitch_->value() == glyphBytes_;
        pitch_->setMinimum(bytes);
        if (followed)
            pitch_->setValue(bytes);
    }
    glyphBytes_ = bytes;
    words_->setText(QStringLiteral("%1; %2 bytes a glyph.")
                        .arg(QString::fromStdString(format().words()))
                        .arg(bytes));
}

} // namespace dotmatrix
