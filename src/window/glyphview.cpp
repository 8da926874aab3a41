#include "glyphview.h"

#include <algorithm>
#include <chrono>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "charactergrid.h"
#include "glyphtools.h"
#include "offsettext.h"

namespace dotmatrix {

namespace {

// Rows of the scroll bar: an int counts them, so a huge disk is scrolled
// through some rows at a time.
constexpr std::int64_t kMostScrollRows = std::int64_t{1} << 30;
// A local file is read at once: a repaint waits that long for it, never more.
constexpr auto kReadWait = std::chrono::milliseconds(12);
constexpr int kDotRows = 8;

QRgb blend(QColor a, QColor b)
{
    return qRgb((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

} // namespace

GlyphView::GlyphView(std::function<Files()> files, QWidget* parent)
    : QAbstractScrollArea(parent), files_(std::move(files))
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
}

GlyphView::~GlyphView()
{
    reader_.reset();
}

int GlyphView::labelWidth() const
{
    return fontMetrics().horizontalAdvance(QStringLiteral("2147483647")) + 12;
}

int GlyphView::pitchX() const
{
    return (glyphWidth() + 1) * dot_;
}

int GlyphView::pitchY() const
{
    return (kDotRows + 1) * dot_;
}

int GlyphView::columns() const
{
    return std::max(1, (viewport()->width() - labelWidth()) / pitchX());
}

int GlyphView::rowsInView() const
{
    return std::max(1, viewport()->height() / pitchY());
}

std::int64_t GlyphView::rowCount() const
{
    const std::int64_t bytes = fileLength() - alignment_;
    return bytes <= 0 ? 0 : (bytes + rowBytes() - 1) / rowBytes();
}

std::int64_t GlyphView::rowOf(std::int64_t position) const
{
    return std::max<std::int64_t>(0, (position - 1 - alignment_) / rowBytes());
}

bool GlyphView::offered(std::int64_t position) const
{
    return position >= 1 && position + glyphWidth() - 1 <= kLastCharacterPosition.number()
           && position <= fileLength();
}

std::vector<Position> GlyphView::glyphsInView() const
{
    std::vector<Position> glyphs;
    const int perRow = columns();
    for (std::int64_t row = topRow_; row < std::min(topRow_ + rowsInView(), rowCount()); ++row) {
        for (int column = 0; column < perRow; ++column) {
            const std::int64_t position = rowStart(row) + std::int64_t{column} * glyphWidth();
            if (position <= fileLength())
                glyphs.emplace_back(position);
        }
    }
    return glyphs;
}

QRect GlyphView::glyphRect(Position position) const
{
    const std::int64_t offset = position.number() - rowStart(topRow_);
    if (offset < 0 || (offset % glyphWidth()) != 0)
        return {};
    const std::int64_t index = offset / glyphWidth();
    const std::int64_t row = index / columns();
    if (row >= rowsInView())
        return {};
    const int column = static_cast<int>(index % columns());
    return {labelWidth() + column * pitchX(), static_cast<int>(row) * pitchY(), glyphWidth() * dot_, kDotRows * dot_};
}

std::optional<std::int64_t> GlyphView::glyphAt(QPoint point) const
{
    const int x = point.x() - labelWidth();
    if (x < 0 || point.y() < 0)
        return std::nullopt;
    const int column = x / pitchX();
    const int row = point.y() / pitchY();
    if (column >= columns() || row >= rowsInView() || x % pitchX() >= glyphWidth() * dot_)
        return std::nullopt;
    const std::int64_t position = rowStart(topRow_ + row) + std::int64_t{column} * glyphWidth();
    return offered(position) ? std::optional(position) : std::nullopt;
}

QString GlyphView::glyphBytes(Position position) const
{
    if (!view_)
        return {};
    const std::int64_t at = position.number() - view_->first.number();
    if (at < 0 || at + glyphWidth() > static_cast<std::int64_t>(view_->bytes.size()))
        return {};
    return QString::fromStdString(
        hexText(std::span(view_->bytes).subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(glyphWidth()))));
}

bool GlyphView::upToDate() const
{
    return view_.has_value() && view_->serial == serial_;
}

void GlyphView::takeFiles()
{
    shownFiles_ = files_();
    shownFiles_.width = std::clamp(shownFiles_.width, 1, CharacterGrid::kMaxColumns);
    alignment_ %= shownFiles_.width;
}

void GlyphView::refresh(std::optional<Position> show)
{
    takeFiles();
    updateScrollBar();
    if (show && *show >= kFirstPosition) {
        const std::int64_t position = show->number();
        // The glyph that holds the position, in the alignment in force.
        selected_ = position - ((position - 1 - alignment_) % glyphWidth() + glyphWidth()) % glyphWidth();
        if (selected_ < 1)
            selected_ += glyphWidth();
        ensureSelectedVisible();
    }
    viewport()->update();
}

void GlyphView::shiftAlignment(int bytes)
{
    alignment_ = ((alignment_ + bytes) % glyphWidth() + glyphWidth()) % glyphWidth();
    selected_ = std::max<std::int64_t>(1 + alignment_, selected_ + bytes);
    updateScrollBar();
    ensureSelectedVisible();
    viewport()->update();
}

void GlyphView::alignTo(Position position)
{
    takeFiles();
    alignment_ = (position.number() - 1) % glyphWidth();
    updateScrollBar();
}

void GlyphView::setDotSize(int pixels)
{
    pixels = std::clamp(pixels, kSmallestDot, kLargestDot);
    if (pixels == dot_)
        return;
    dot_ = pixels;
    emit dotSizeChanged(dot_);
    updateScrollBar();
    ensureSelectedVisible();
    viewport()->update();
}

void GlyphView::activate(Position position)
{
    takeFiles();
    if (shownFiles_.busy || !offered(position.number()))
        return;
    select(position.number());
    emit activated(position);
}

void GlyphView::requestRead()
{
    const Files& files = shownFiles_;
    if (files.busy)
        return;  // the files are the copy's; what was read stays on show
    PreviewReader::Request request;
    request.sourcePath = files.sourcePath;
    request.targetPath = files.targetPath;
    request.writtenThrough = files.writtenThrough;
    request.first = Position(rowStart(topRow_));
    request.count = (std::int64_t{rowsInView()} + 1) * rowBytes();
    request.serial = ++serial_;
    reader_->request(std::move(request));
}

void GlyphView::viewArrived()
{
    std::optional<PreviewReader::View> arrived = reader_->take();
    if (!arrived)
        return;
    const bool lengthChanged = arrived->length != fileLength();
    view_ = std::move(arrived);
    if (QString::fromStdString(view_->problem) != problem_) {
        problem_ = QString::fromStdString(view_->problem);
        emit problemChanged(problem_);
    }
    if (lengthChanged) {
        // The file's length is known only now: the selection comes into view.
        updateScrollBar();
        ensureSelectedVisible();
    }
    glyphsChanged();
    repaintAfterRead_ = true;
    viewport()->update();
}

void GlyphView::updateScrollBar()
{
    const std::int64_t rows = rowCount();
    rowsPerStep_ = std::max<std::int64_t>(1, (rows + kMostScrollRows - 1) / kMostScrollRows);
    const std::int64_t last = std::max<std::int64_t>(0, rows - rowsInView());
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    bar->setRange(0, static_cast<int>(last / rowsPerStep_));
    bar->setPageStep(std::max(1, static_cast<int>(rowsInView() / rowsPerStep_)));
    bar->setSingleStep(1);
    topRow_ = std::clamp<std::int64_t>(topRow_, 0, last);
    bar->setValue(static_cast<int>(topRow_ / rowsPerStep_));
}

void GlyphView::setTopRow(std::int64_t row)
{
    const std::int64_t last = std::max<std::int64_t>(0, rowCount() - rowsInView());
    row = std::clamp<std::int64_t>(row, 0, last);
    if (row == topRow_)
        return;
    topRow_ = row;
    const QSignalBlocker quiet(verticalScrollBar());
    verticalScrollBar()->setValue(static_cast<int>(topRow_ / rowsPerStep_));
    glyphsChanged();
    viewport()->update();
}

void GlyphView::scrollContentsBy(int /*dx*/, int /*dy*/)
{
    // The user moved the scroll bar.
    const std::int64_t value = verticalScrollBar()->value();
    if (topRow_ / rowsPerStep_ != value)
        topRow_ = value * rowsPerStep_;
    glyphsChanged();
    viewport()->update();
}

void GlyphView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
    glyphsChanged();
}

void GlyphView::select(std::int64_t position)
{
    const std::int64_t first = 1 + alignment_;
    const std::int64_t lastGlyph = std::max(first, first + (fileLength() - first) / glyphWidth() * glyphWidth());
    position = std::clamp(position, first, lastGlyph);
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
    const std::int64_t row = rowOf(selected_);
    if (row < topRow_)
        setTopRow(row);
    else if (row >= topRow_ + rowsInView())
        setTopRow(row - rowsInView() + 1);
}

void GlyphView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (const auto position = glyphAt(event->position().toPoint()))
        activate(Position(*position));
}

void GlyphView::keyPressEvent(QKeyEvent* event)
{
    const std::int64_t step = glyphWidth();
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    switch (event->key()) {
    case Qt::Key_Left:
        control ? shiftAlignment(-1) : select(selected_ - step);
        break;
    case Qt::Key_Right:
        control ? shiftAlignment(1) : select(selected_ + step);
        break;
    case Qt::Key_Up:
        select(selected_ - rowBytes());
        break;
    case Qt::Key_Down:
        select(selected_ + rowBytes());
        break;
    case Qt::Key_PageUp:
        setTopRow(topRow_ - rowsInView());
        select(selected_ - rowBytes() * rowsInView());
        break;
    case Qt::Key_PageDown:
        setTopRow(topRow_ + rowsInView());
        select(selected_ + rowBytes() * rowsInView());
        break;
    case Qt::Key_Home:
        select(1);
        break;
    case Qt::Key_End:
        select(fileLength());
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activate(Position(selected_));
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        setDotSize(dot_ + 1);
        break;
    case Qt::Key_Minus:
        setDotSize(dot_ - 1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void GlyphView::wheelEvent(QWheelEvent* event)
{
    if ((event->modifiers() & Qt::ControlModifier) != 0) {
        setDotSize(dot_ + (event->angleDelta().y() > 0 ? 1 : -1));
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
    // Every repaint reads the files again, but the one a read asked for.
    takeFiles();
    if (!repaintAfterRead_) {
        requestRead();
        if (reader_->waitReady(kReadWait))
            viewArrived();
    }
    repaintAfterRead_ = false;
    renderGlyphs();

    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
    painter.drawImage(QRect(labelWidth(), 0, glyphImage_.width() * dot_, glyphImage_.height() * dot_), glyphImage_);
    painter.setPen(palette().color(QPalette::Text));
    const std::int64_t rows = std::min<std::int64_t>(rowsInView(), rowCount() - topRow_);
    for (int row = 0; row < rows; ++row) {
        const QRect label(0, row * pitchY(), labelWidth() - 8, kDotRows * dot_);
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(decimalText(Position(rowStart(topRow_ + row)))));
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
        painter.drawText(viewport()->rect().adjusted(labelWidth(), 0, 0, 0), Qt::AlignCenter | Qt::TextWordWrap, problem_);
    }
}

void GlyphView::renderGlyphs()
{
    // One pixel a dot, one dot of gap between glyphs; drawn at the dot size.
    const int perRow = columns();
    const int rows = rowsInView();
    const int wide = glyphWidth();
    const QSize size(perRow * (wide + 1), rows * (kDotRows + 1));
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
    const Files& files = shownFiles_;
    const std::int64_t markFirst = files.marked.number();
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < perRow; ++column) {
            const std::int64_t position = rowStart(topRow_ + row) + std::int64_t{column} * wide;
            if (position > fileLength())
                break;
            const std::int64_t at = view_ ? position - view_->first.number() : -1;
            const bool known = view_ && at >= 0 && at + wide <= static_cast<std::int64_t>(view_->bytes.size());
            bool differs = false;
            for (int c = 0; known && c < wide; ++c)
                differs = differs || view_->changed[static_cast<std::size_t>(at + c)];
            for (int c = 0; c < wide; ++c) {
                const std::uint8_t byte = known ? view_->bytes[static_cast<std::size_t>(at + c)] : 0;
                const bool onDisplay = markFirst > 0 && position + c >= markFirst
                                       && position + c < markFirst + files.width;
                const QRgb background = !known ? unknown : onDisplay ? marked : differs ? changed : unlit;
                for (int bit = 0; bit < kDotRows; ++bit) {
                    const DotPlace place = dotPlace(c, bit, wide);
                    const int x = column * (wide + 1) + place.x;
                    const int y = row * (kDotRows + 1) + place.y;
                    reinterpret_cast<QRgb*>(glyphImage_.scanLine(y))[x] = ((byte >> bit) & 1) != 0 ? lit : background;
                }
            }
        }
    }
}

// A glyph as a screen reader sees it: a button named by its position.
class AccessibleGlyph : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    AccessibleGlyph(GlyphView* view, std::int64_t position) : view_(view), position_(position) {}

    [[nodiscard]] bool isValid() const override { return view_ != nullptr; }
    [[nodiscard]] QObject* object() const override { return nullptr; }
    [[nodiscard]] QWindow* window() const override
    {
        return view_ != nullptr ? view_->window()->windowHandle() : nullptr;
    }
    [[nodiscard]] QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(view_);
    }
    [[nodiscard]] QAccessibleInterface* child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    [[nodiscard]] QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    [[nodiscard]] QAccessibleInterface* focusChild() const override { return nullptr; }
    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        if (view_ == nullptr)
            return {};
        if (kind == QAccessible::Name)
            return QStringLiteral("Position %1").arg(position_);
        if (kind == QAccessible::Description)
            return view_->glyphBytes(Position(position_));
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    [[nodiscard]] QRect rect() const override
    {
        if (view_ == nullptr)
            return {};
        const QRect inView = view_->glyphRect(Position(position_));
        return QRect(view_->viewport()->mapToGlobal(inView.topLeft()), inView.size());
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::Button; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state;
        state.focusable = true;
        state.focused = view_ != nullptr && view_->hasFocus() && view_->selected() == Position(position_);
        state.invisible = view_ == nullptr || view_->glyphRect(Position(position_)).isEmpty();
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    [[nodiscard]] QStringList actionNames() const override { return {pressAction()}; }
    [[nodiscard]] QStringList keyBindingsForAction(const QString& action) const override
    {
        return action == pressAction() ? QStringList{QStringLiteral("Return")} : QStringList{};
    }
    void doAction(const QString& action) override
    {
        if (view_ != nullptr && action == pressAction())
            view_->activate(Position(position_));
    }

    [[nodiscard]] std::int64_t position() const { return position_; }

private:
    QPointer<GlyphView> view_;
    std::int64_t position_;
};

// The view as a list of the glyphs it shows.
class AccessibleGlyphView : public QAccessibleWidget {
public:
    explicit AccessibleGlyphView(GlyphView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~AccessibleGlyphView() override { forget({}); }

    [[nodiscard]] GlyphView* view() const { return static_cast<GlyphView*>(widget()); }

    [[nodiscard]] int childCount() const override { return static_cast<int>(view()->glyphsInView().size()); }
    [[nodiscard]] QAccessibleInterface* child(int index) const override
    {
        const std::vector<Position> shown = view()->glyphsInView();
        if (index < 0 || index >= static_cast<int>(shown.size()))
            return nullptr;
        const std::int64_t position = shown[static_cast<std::size_t>(index)].number();
        auto found = children_.find(position);
        if (found == children_.end())
            found = children_.insert(position, QAccessible::registerAccessibleInterface(
                                                   new AccessibleGlyph(view(), position)));
        return QAccessible::accessibleInterface(found.value());
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child == nullptr || child->role() != QAccessible::Button)
            return -1;
        const std::vector<Position> shown = view()->glyphsInView();
        const auto position = static_cast<const AccessibleGlyph*>(child)->position();
        const auto found = std::find(shown.begin(), shown.end(), Position(position));
        return found == shown.end() ? -1 : static_cast<int>(found - shown.begin());
    }
    [[nodiscard]] QAccessibleInterface* focusChild() const override
    {
        return view()->hasFocus() ? child(indexOfPosition(view()->selected())) : nullptr;
    }

    // Lets go of the glyphs no longer in view.
    void forget(const std::vector<Position>& kept)
    {
        for (auto it = children_.begin(); it != children_.end();) {
            if (std::find(kept.begin(), kept.end(), Position(it.key())) == kept.end()) {
                QAccessible::deleteAccessibleInterface(it.value());
                it = children_.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    [[nodiscard]] int indexOfPosition(Position position) const
    {
        const std::vector<Position> shown = view()->glyphsInView();
        const auto found = std::find(shown.begin(), shown.end(), position);
        return found == shown.end() ? -1 : static_cast<int>(found - shown.begin());
    }

    mutable QHash<std::int64_t, QAccessible::Id> children_;
};

void GlyphView::glyphsChanged()
{
    if (!QAccessible::isActive())
        return;
    if (auto* accessible = dynamic_cast<AccessibleGlyphView*>(QAccessible::queryAccessibleInterface(this)))
        accessible->forget(glyphsInView());
}

namespace {

QAccessibleInterface* glyphViewAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("dotmatrix::GlyphView") && object->isWidgetType())
        return new AccessibleGlyphView(static_cast<GlyphView*>(object));
    return nullptr;
}

} // namespace

void installGlyphViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(glyphViewAccessible);
        return true;
    }();
    (void)installed;
}

} // namespace dotmatrix
