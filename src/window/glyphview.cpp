#include "glyphview.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>

#include <QAccessible>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "charactergrid.h"
#include "glyphdrawing.h"
#include "offsettext.h"

namespace dotmatrix {

namespace {

// A local file is read at once: whatever asks for a read waits that long for
// it, so that the next paint shows it, never more.
constexpr auto kReadWait = std::chrono::milliseconds(12);
// How often the view looks for what other programs changed.
constexpr int kWatchMilliseconds = 500;
// Labels have room for positions of this many digits at least, so that they
// do not move as the file's length becomes known.
constexpr int kFewestLabelDigits = 10;

QRgb blend(QColor a, QColor b)
{
    return qRgb((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

bool sameContent(const PreviewReader::View& a, const PreviewReader::View& b)
{
    return a.first == b.first && a.length == b.length && a.bytes == b.bytes && a.changed == b.changed
           && a.problem == b.problem;
}

} // namespace

GlyphView::GlyphView(QWidget* parent) : QAbstractScrollArea(parent)
{
    installGlyphViewAccessibility();
    setObjectName(QStringLiteral("GlyphView"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // The reader hands its views over on its own thread; they are taken here.
    reader_ = std::make_unique<PreviewReader>(
        [this] { QMetaObject::invokeMethod(this, &GlyphView::viewArrived, Qt::QueuedConnection); });
    watch_.setInterval(kWatchMilliseconds);
    connect(&watch_, &QTimer::timeout, this, [this] { requestRead(); });
    fitLabels();
}

GlyphView::~GlyphView()
{
    reader_.reset();
}

QRect GlyphView::glyphRect(Position position) const
{
    const GlyphLayout::Rect rect = layout_.glyphRect(position.number());
    return rect.empty() ? QRect() : QRect(rect.x, rect.y, rect.width, rect.height);
}

QString GlyphView::glyphBytes(Position position) const
{
    if (!view_)
        return {};
    const std::int64_t at = position.number() - view_->first.number();
    if (at < 0 || at + glyphSize() > static_cast<std::int64_t>(view_->bytes.size()))
        return {};
    return QString::fromStdString(
        hexText(std::span(view_->bytes).subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(glyphSize()))));
}

QString GlyphView::glyphDescription(Position position) const
{
    QString description = glyphBytes(position);
    if (const auto code = codeOf(position))
        description += QStringLiteral(", character %1").arg(QString::fromStdString(codeText(*code)));
    return description;
}

std::optional<int> GlyphView::codeOf(Position position) const
{
    if (!mark_)
        return std::nullopt;
    return codeAt(*mark_, position, glyphWidth());
}

std::pair<Position, std::int64_t> GlyphView::selection() const
{
    const std::int64_t other = anchor_.value_or(selected_);
    return {Position(std::min(other, selected_)), std::abs(other - selected_) / glyphWidth() + 1};
}

PreviewReader::Request GlyphView::glyphsRequest(Position first, std::int64_t count) const
{
    return PreviewReader::requestFor(shown_, first, count * glyphWidth());
}

std::optional<ImageView> GlyphView::image() const
{
    if (shown_.busy)
        return std::nullopt;
    return shown_;
}

bool GlyphView::upToDate() const
{
    return view_.has_value() && view_->serial == serial_;
}

void GlyphView::setImage(ImageView files)
{
    const GlyphFormat& was = shown_.format;
    const GlyphFormat& now = files.format;
    const bool widthChanged = now.step() != layout_.width() || now.width != layout_.across()
                              || now.height != layout_.down() || now.glyphBytes() != was.glyphBytes();
    const bool sourceChanged = files.sourcePath != shown_.sourcePath;
    const bool checksumChanged = files.checksumLine != shown_.checksumLine;
    const bool formatChanged = files.format != shown_.format;
    shown_ = std::move(files);
    if (formatChanged)
        emit this->formatChanged(QString::fromStdString(shown_.format.words()));
    if (checksumChanged)
        emit checksumLineChanged(QString::fromStdString(shown_.checksumLine));
    if (widthChanged) {
        layout_.setShape(shown_.format.step(), shown_.format.width, shown_.format.height);
        // The selection stays on a glyph of the new width.
        selected_ = layout_.glyphHolding(selected_);
    }
    if (widthChanged || sourceChanged) {
        mark_.reset();  // the codes counted from it no longer hold
        fitLabels();
        updateScrollBar();
    }
}

void GlyphView::fitLabels()
{
    const std::int64_t longest = std::max<std::int64_t>(layout_.length(), 1);
    const auto digits = std::max<int>(kFewestLabelDigits, static_cast<int>(std::to_string(longest).size()));
    QString widest(digits, u'8');
    if (mark_)
        widest += QStringLiteral("  888 W");
    const int width = fontMetrics().horizontalAdvance(widest) + 12;
    if (width != layout_.labelWidth()) {
        layout_.setLabelWidth(width);
        updateScrollBar();
    }
}

QString GlyphView::rowLabel(std::int64_t row) const
{
    const Position first(layout_.rowStart(row));
    QString label = QString::fromStdString(decimalText(first));
    if (mark_) {
        // The code of the row's first glyph, or of the first one that has one.
        for (int column = 0; column < layout_.columns(); ++column) {
            const Position glyph = first + std::int64_t{column} * glyphWidth();
            if (const auto code = codeOf(glyph)) {
                label += QStringLiteral("  ") + QString::fromStdString(codeText(*code));
                break;
            }
        }
    }
    return label;
}

void GlyphView::refresh(std::optional<Position> show)
{
    if (show && *show >= kFirstPosition) {
        selected_ = layout_.glyphHolding(show->number());
        ensureSelectedVisible();
    }
    readNow();
}

void GlyphView::shiftAlignment(int bytes)
{
    layout_.shiftAlignment(bytes);
    selected_ = std::max<std::int64_t>(layout_.firstGlyph(), selected_ + bytes);
    if (mark_) {
        mark_.reset();
        fitLabels();
    }
    updateScrollBar();
    ensureSelectedVisible();
    placesChanged();
}

void GlyphView::alignTo(Position position)
{
    if (mark_ && layout_.glyphHolding(position.number()) != position.number()) {
        mark_.reset();
        fitLabels();
    }
    layout_.alignTo(position);
    updateScrollBar();
}

void GlyphView::setDotSize(int pixels)
{
    pixels = std::clamp(pixels, kSmallestDot, kLargestDot);
    if (pixels == layout_.dotSize())
        return;
    layout_.setDotSize(pixels);
    emit dotSizeChanged(pixels);
    updateScrollBar();
    ensureSelectedVisible();
    placesChanged();
}

void GlyphView::activate(Position position)
{
    if (shown_.busy || position < kFirstPosition || position.number() > layout_.length())
        return;
    select(position.number());
    if (!characterFits(position, glyphSize())) {
        emit refused(QString::fromStdString(endsBeyondTheHighest(
            "A glyph of " + std::to_string(glyphSize()) + " bytes at position " + decimalText(position))));
        return;
    }
    emit activated(position);
}

bool GlyphView::markCharacter(Position position, int code)
{
    const CharacterMark mark{Position(layout_.glyphHolding(position.number())), code};
    if (const std::string problem = markProblem(mark, glyphWidth()); !problem.empty()) {
        emit refused(QString::fromStdString(problem));
        return false;
    }
    mark_ = mark;
    fitLabels();
    // Wider labels leave fewer glyphs a row: the named one stays in view.
    const std::int64_t row = layout_.rowOf(mark.position.number());
    if (row < layout_.topRow() || row >= layout_.topRow() + layout_.rowsInView())
        setTopRow(std::max<std::int64_t>(0, row - layout_.rowsInView() / 2));
    glyphsChanged();
    viewport()->update();
    return true;
}

void GlyphView::selectGlyph(Position position)
{
    select(layout_.glyphHolding(position.number()));
}

void GlyphView::readNow()
{
    if (requestRead() && reader_->waitReady(kReadWait))
        viewArrived();
    viewport()->update();
}

bool GlyphView::requestRead()
{
    if (shown_.busy || !isVisible())
        return false;  // the files are the copy's; what was read stays on show
    PreviewReader::Request request = PreviewReader::requestFor(
        shown_, Position(layout_.rowStart(layout_.topRow())), (std::int64_t{layout_.rowsInView()} + 1) * layout_.rowBytes());
    request.serial = ++serial_;
    ++readCount_;
    reader_->request(std::move(request));
    return true;
}

void GlyphView::viewArrived()
{
    std::optional<PreviewReader::View> arrived = reader_->take();
    if (!arrived)
        return;
    // Nothing new, as on most reads that look for other programs: no repaint.
    const bool same = view_ && sameContent(*view_, *arrived);
    const bool lengthChanged = !view_ || arrived->length != view_->length;
    view_ = std::move(arrived);
    if (same)
        return;
    if (QString::fromStdString(view_->problem) != problem_) {
        problem_ = QString::fromStdString(view_->problem);
        emit problemChanged(problem_);
    }
    if (lengthChanged) {
        // The file's length is known only now: the selection comes into view.
        layout_.setLength(view_->length);
        fitLabels();
        updateScrollBar();
        ensureSelectedVisible();
    }
    glyphsChanged();
    viewport()->update();
}

void GlyphView::updateScrollBar()
{
    layout_.setViewport(viewport()->width(), viewport()->height());
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    bar->setRange(0, layout_.scrollMaximum());
    bar->setPageStep(layout_.scrollPage());
    bar->setSingleStep(1);
    bar->setValue(layout_.scrollValue());
}

void GlyphView::setTopRow(std::int64_t row)
{
    const std::int64_t before = layout_.topRow();
    layout_.setTopRow(row);
    if (layout_.topRow() == before)
        return;
    const QSignalBlocker quiet(verticalScrollBar());
    verticalScrollBar()->setValue(layout_.scrollValue());
    placesChanged();
}

void GlyphView::placesChanged()
{
    glyphsChanged();
    readNow();
}

void GlyphView::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    // The user moved the scroll bar.
    layout_.setTopRow(layout_.rowOfScrollValue(verticalScrollBar()->value()));
    placesChanged();
}

void GlyphView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
    placesChanged();
}

void GlyphView::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    watch_.start();
}

void GlyphView::hideEvent(QHideEvent* event)
{
    QAbstractScrollArea::hideEvent(event);
    watch_.stop();
}

void GlyphView::select(std::int64_t position, bool extend)
{
    position = std::clamp(position, layout_.firstGlyph(), layout_.lastGlyph());
    if (extend && !anchor_)
        anchor_ = selected_;
    else if (!extend && anchor_) {
        anchor_.reset();
        viewport()->update();
    }
    if (position == selected_)
        return;
    selected_ = position;
    ensureSelectedVisible();
    viewport()->update();
    if (QAccessible::isActive() && hasFocus()) {
        const std::vector<Position> shown = glyphsInView();
        const auto found = std::find(shown.begin(), shown.end(), Position(selected_));
        if (found != shown.end()) {
            QAccessibleEvent focus(this, QAccessible::Focus);
            focus.setChild(static_cast<int>(found - shown.begin()));
            QAccessible::updateAccessibility(&focus);
        }
    }
}

void GlyphView::ensureSelectedVisible()
{
    const std::int64_t row = layout_.rowOf(selected_);
    if (row < layout_.topRow())
        setTopRow(row);
    else if (row >= layout_.topRow() + layout_.rowsInView())
        setTopRow(row - layout_.rowsInView() + 1);
}

void GlyphView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    const auto position = layout_.glyphAt(point.x(), point.y());
    if (!position)
        return;
    // Shift and a click select a range, as in a list; a click alone goes there.
    if ((event->modifiers() & Qt::ShiftModifier) != 0) {
        select(*position, true);
        return;
    }
    activate(Position(*position));
}

void GlyphView::contextMenuEvent(QContextMenuEvent* event)
{
    std::optional<std::int64_t> position;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        position = layout_.glyphAt(event->pos().x(), event->pos().y());
        if (position)
            select(*position);
    } else {
        position = selected_;
        const QRect rect = glyphRect(Position(selected_));
        if (!rect.isEmpty())
            at = viewport()->mapToGlobal(rect.center());
    }
    if (position && *position <= layout_.length())
        emit glyphMenuRequested(Position(*position), at);
}

void GlyphView::keyPressEvent(QKeyEvent* event)
{
    const std::int64_t step = glyphWidth();
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    const std::int64_t rowBytes = layout_.rowBytes();
    const int rows = layout_.rowsInView();
    switch (event->key()) {
    case Qt::Key_Left:
        control ? shiftAlignment(-1) : select(selected_ - step, shift);
        break;
    case Qt::Key_Right:
        control ? shiftAlignment(1) : select(selected_ + step, shift);
        break;
    case Qt::Key_Up:
        select(selected_ - rowBytes, shift);
        break;
    case Qt::Key_Down:
        select(selected_ + rowBytes, shift);
        break;
    case Qt::Key_PageUp:
        setTopRow(layout_.topRow() - rows);
        select(selected_ - rowBytes * rows);
        break;
    case Qt::Key_PageDown:
        setTopRow(layout_.topRow() + rows);
        select(selected_ + rowBytes * rows);
        break;
    case Qt::Key_Home:
        select(1);
        break;
    case Qt::Key_End:
        select(layout_.length());
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activate(Position(selected_));
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        setDotSize(dotSize() + 1);
        break;
    case Qt::Key_Minus:
        setDotSize(dotSize() - 1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void GlyphView::wheelEvent(QWheelEvent* event)
{
    if ((event->modifiers() & Qt::ControlModifier) != 0) {
        setDotSize(dotSize() + (event->angleDelta().y() > 0 ? 1 : -1));
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void GlyphView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void GlyphView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void GlyphView::paintEvent(QPaintEvent* /*event*/)
{
    // Draws what the view has: reading is for what may have changed it.
    renderGlyphs();
    const int dot = dotSize();
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
    painter.drawImage(QRect(layout_.labelWidth(), 0, glyphImage_.width() * dot, glyphImage_.height() * dot),
                      glyphImage_);
    painter.setPen(palette().color(QPalette::Text));
    const std::int64_t rows = std::min<std::int64_t>(layout_.rowsInView(), layout_.rowCount() - layout_.topRow());
    for (int row = 0; row < rows; ++row) {
        const QRect label(0, row * layout_.pitchY(), layout_.labelWidth() - 8, layout_.down() * dot);
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, rowLabel(layout_.topRow() + row));
    }
    if (anchor_) {
        // A range selected with Shift: each of its glyphs underlined.
        // Only the glyphs in view are looked at, however long the range.
        const auto [first, count] = selection();
        const std::int64_t last = first.number() + (count - 1) * glyphWidth();
        painter.setPen(QPen(palette().color(QPalette::Highlight), std::max(1, dot / 2)));
        for (const Position glyph : layout_.glyphsInView()) {
            if (glyph.number() < first.number() || glyph.number() > last
                || (glyph.number() - first.number()) % glyphWidth() != 0)
                continue;
            const QRect rect = glyphRect(glyph);
            if (!rect.isEmpty())
                painter.drawLine(rect.bottomLeft() + QPoint(0, dot / 2 + 1), rect.bottomRight() + QPoint(0, dot / 2 + 1));
        }
    }
    if (hasFocus()) {
        const QRect mark = glyphRect(Position(selected_));
        if (!mark.isEmpty()) {
            // As the grid's mark: a black ring inside a white one.
            painter.setPen(QPen(Qt::white, 2));
            painter.drawRect(mark.adjusted(-2, -2, 1, 1));
            painter.setPen(QPen(Qt::black, 1));
            painter.drawRect(mark.adjusted(-1, -1, 0, 0));
        }
    }
    if (!problem_.isEmpty() && !upToDate()) {
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(viewport()->rect().adjusted(layout_.labelWidth(), 0, 0, 0),
                         Qt::AlignCenter | Qt::TextWordWrap, problem_);
    }
}

void GlyphView::renderGlyphs()
{
    // One pixel a dot, one dot of gap between glyphs; drawn at the dot size.
    const int perRow = layout_.columns();
    const int rows = layout_.rowsInView();
    const int step = glyphWidth();
    const int bytesOfGlyph = glyphSize();
    const int across = layout_.across();
    const int down = layout_.down();
    const QSize size(perRow * (across + 1), rows * (down + 1));
    if (glyphImage_.size() != size)
        glyphImage_ = QImage(size, QImage::Format_RGB32);
    const QColor face = palette().color(QPalette::Button);
    const QRgb gap = palette().color(QPalette::Base).rgb();
    const QRgb lit = qRgb(255, 0, 0);
    const QRgb unlit = face.rgb();
    const QRgb changed = blend(face, QColor(255, 220, 80));
    const QRgb marked = blend(face, palette().color(QPalette::Highlight));
    const QRgb unknown = blend(face, palette().color(QPalette::Base));
    glyphImage_.fill(gap);
    const ImageView& files = shown_;
    const std::int64_t markFirst = files.marked.number();
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < perRow; ++column) {
            const std::int64_t position = layout_.rowStart(layout_.topRow() + row) + std::int64_t{column} * step;
            if (position > layout_.length())
                break;
            const std::int64_t at = view_ ? position - view_->first.number() : -1;
            const bool known = view_ && at >= 0 && at + bytesOfGlyph <= static_cast<std::int64_t>(view_->bytes.size());
            bool differs = false;
            for (int c = 0; known && c < bytesOfGlyph; ++c)
                differs = differs || view_->changed[static_cast<std::size_t>(at + c)];
            static constexpr std::array<std::uint8_t, CharacterGrid::kMaxBytes> kBlank{};
            const auto bytes = known ? std::span<const std::uint8_t>(view_->bytes).subspan(static_cast<std::size_t>(at),
                                                                                            static_cast<std::size_t>(bytesOfGlyph))
                                     : std::span<const std::uint8_t>(kBlank).first(static_cast<std::size_t>(bytesOfGlyph));
            drawGlyph(glyphImage_, column * (across + 1), row * (down + 1), bytes, files.format, lit, [&](int c) {
                const bool onDisplay = markFirst > 0 && position + c >= markFirst && position + c < markFirst + bytesOfGlyph;
                return !known ? unknown : onDisplay ? marked : differs ? changed : unlit;
            });
        }
    }
}

} // namespace dotmatrix
