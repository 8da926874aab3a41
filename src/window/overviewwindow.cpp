#include "overviewwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace dotmatrix {

OverviewWindow::OverviewWindow(std::function<GlyphView::Files()> files, QWidget* parent)
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
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("OverviewStatus"));
    status_->setWordWrap(true);

    auto* tools = new QHBoxLayout;
    tools->addWidget(earlier);
    tools->addWidget(later);
    tools->addSpacing(16);
    tools->addWidget(dotLabel);
    tools->addWidget(dotSize_);
    tools->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(view_, 1);
    layout->addWidget(status_);

    connect(earlier, &QPushButton::clicked, view_, [this] { view_->shiftAlignment(-1); });
    connect(later, &QPushButton::clicked, view_, [this] { view_->shiftAlignment(1); });
    connect(dotSize_, &QSpinBox::valueChanged, view_, &GlyphView::setDotSize);
    connect(view_, &GlyphView::dotSizeChanged, dotSize_, &QSpinBox::setValue);
    connect(view_, &GlyphView::activated, this, &OverviewWindow::jumpRequested);
    connect(view_, &GlyphView::problemChanged, status_, &QLabel::setText);
    setTabOrder(earlier, later);
    setTabOrder(later, dotSize_);
    setTabOrder(dotSize_, view_);
    resize(640, 480);
}

} // namespace dotmatrix
