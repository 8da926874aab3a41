#include "dotgridview.h"

#include <algorithm>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QUndoCommand>

#include "dotcell.h"
#include "offsettext.h"

namespace dotmatrix {

namespace {

// Cells stand 360 twips apart, each 252 wide and 372 tall.
constexpr int kCellPitch = 360;
constexpr int kCellWidth = 252;
constexpr int kCellHeight = 372;
// Cells of other formats stand closer the larger the glyph: a 16 x 16 glyph
// at the usual pitch, a 32 x 32 one at half of it.
constexpr int kLargestDotsSide = 5760;

int dotPitch(const GlyphFormat& format)
{
    return std::clamp(kLargestDotsSide / std::max(format.width, format.height), kCellPitch / 2, kCellPitch);
}

bool sameShape(const GlyphFormat& a, const GlyphFormat& b)
{
    return a.lines == b.lines && a.width == b.width && a.height == b.height && a.pages == b.pages;
}

QString hex(std::uint64_t value, int digits)
{
    return QString::fromStdString(hexDigits(value, digits));
}

QString binary(std::uint8_t byte)
{
    const QString bits = QString::number(byte, 2).rightJustified(8, u'0');
    return bits.left(4) + u' ' + bits.mid(4);
}

// One step of the grid's history: the character before and after it.
class GridChange : public QUndoCommand {
public:
    GridChange(ConversionPass& pass, const QString& text, std::vector<std::uint8_t> before,
               std::vector<std::uint8_t> after)
        : QUndoCommand(text), pass_(pass), before_(std::move(before)), after_(std::move(after))
    {
    }

    void redo() override { pass_.setDisplayedColumns(after_); }
    void undo() override { pass_.setDisplayedColumns(before_); }

private:
    ConversionPass& pass_;
    std::vector<std::uint8_t> before_;
    std::vector<std::uint8_t> after_;
};

} // namespace

DotGridView::DotGridView(ConversionPass& pass, DotOrderSetting& order, std::function<GlyphFormat()> chosen,
                         QWidget* parent)
    : QWidget(parent), pass_(pass), order_(order), chosen_(std::move(chosen))
{
    for (int n = 1; n <= kArrays; ++n) {
        for (int index = 0; index < kCellsPerArray; ++index) {
            cells_[static_cast<std::size_t>(n - 1)][static_cast<std::size_t>(index)] =
                makeCell(QStringLiteral("Col%1(%2)").arg(n).arg(index), [this, n, index] { return cellToolTip(n, index); },
                         [this, n, index] { return cellName(n, index); }, [this, n, index] { Col_Click(n, index); });
        }
    }
    markedCell_ = cellAt(markColumn_, markBit_);
    markedCell_->setMarked(true);
    createMenu();
    updateActions();
    connect(&order_, &DotOrderSetting::changed, this, [this](DotOrder now) {
        bit0OnTop_->setChecked(now.bit0OnTop);
        firstByteLeft_->setChecked(now.firstByteLeft);
        // The mark stays on its dot, wherever that now stands.
        display();
    });
}

DotCell* DotGridView::makeCell(const QString& name, std::function<QString()> toolTip, std::function<QString()> accessibleName,
                               std::function<void()> click)
{
    auto* cell = new DotCell(this);
    cell->setObjectName(name);
    cell->setToolTipSource(std::move(toolTip));
    cell->setNameSource(std::move(accessibleName));
    connect(cell, &DotCell::clicked, this, std::move(click));
    connect(cell, &DotCell::markMoveRequested, this, &DotGridView::moveMark);
    return cell;
}

std::vector<std::pair<QWidget*, QRect>> DotGridView::cellPlaces() const
{
    std::vector<std::pair<QWidget*, QRect>> places;
    for (int n = 1; n <= kArrays; ++n) {
        for (int index = 0; index < kCellsPerArray; ++index) {
            // ColN runs left to right, index 7 at the top.
            places.emplace_back(Col(n, index), QRect(kCellPitch * (n - 1), kCellPitch * (kCellsPerArray - 1 - index),
                                                     kCellWidth, kCellHeight));
        }
    }
    return places;
}

QSize DotGridView::twipSize() const
{
    if (dots_.empty())
        return {kCellPitch * (kArrays - 1) + kCellWidth, kCellPitch * (kCellsPerArray - 1) + kCellHeight};
    const int pitch = dotPitch(dotsShape_);
    return {pitch * (dotsShape_.width - 1) + pitch * kCellWidth / kCellPitch,
            pitch * (dotsShape_.height - 1) + pitch * kCellHeight / kCellPitch};
}

GlyphFormat DotGridView::shownFormat() const
{
    GlyphFormat format = pass_.isOpen() ? pass_.format() : chosen_();
    format.order = order_.order();
    return format;
}

DotCell* DotGridView::dotCell(int x, int y) const
{
    if (dots_.empty() || x < 0 || x >= dotsShape_.width || y < 0 || y >= dotsShape_.height)
        return nullptr;
    return dots_[static_cast<std::size_t>(y * dotsShape_.width + x)];
}

void DotGridView::buildDots(const GlyphFormat& format)
{
    const bool original = format.isOriginal();
    if (original ? dots_.empty() : !dots_.empty() && sameShape(format, dotsShape_))
        return;
    const bool focused = markedCell_ != nullptr && markedCell_->hasFocus();
    markedCell_->setMarked(false);
    for (DotCell* cell : dots_)
        cell->deleteLater();
    dots_.clear();
    for (const auto& array : cells_) {
        for (DotCell* cell : array)
            cell->setVisible(original);
    }
    if (original) {
        markedCell_ = cellAt(markColumn_, markBit_);
        markCell(markedCell_, focused);
    } else {
        dotsShape_ = format;
        for (int y = 0; y < format.height; ++y) {
            for (int x = 0; x < format.width; ++x) {
                dots_.push_back(makeCell(QStringLiteral("Dot(%1,%2)").arg(x).arg(y), [this, x, y] { return dotToolTip(x, y); },
                                         [this, x, y] { return dotName(x, y); }, [this, x, y] { Dot_Click(x, y); }));
            }
        }
        markX_ = std::min(markX_, format.width - 1);
        markY_ = std::min(markY_, format.height - 1);
        placeDots();
        for (DotCell* cell : dots_)
            cell->show();
        markedCell_ = dotCell(markX_, markY_);
        markCell(markedCell_, focused);
    }
    emit shapeChanged();
}

void DotGridView::placeDots()
{
    if (dots_.empty())
        return;
    const double scale = width() / static_cast<double>(twipSize().width());
    const int pitch = dotPitch(dotsShape_);
    const auto at = [scale](int twips) { return static_cast<int>(twips * scale + 0.5); };
    for (int y = 0; y < dotsShape_.height; ++y) {
        for (int x = 0; x < dotsShape_.width; ++x) {
            dotCell(x, y)->setGeometry(at(x * pitch), at(y * pitch), at(pitch * kCellWidth / kCellPitch),
                                       at(pitch * kCellHeight / kCellPitch));
        }
    }
}

void DotGridView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeDots();
}

void DotGridView::markCell(DotCell* cell, bool focus)
{
    cell->setMarked(true);
    if (tabBefore_ != nullptr) {
        setTabOrder(tabBefore_, cell);
        setTabOrder(cell, tabAfter_);
    }
    if (focus)
        cell->setFocus(Qt::OtherFocusReason);
}

void DotGridView::setDotMark(int x, int y, bool focus)
{
    markX_ = std::clamp(x, 0, dotsShape_.width - 1);
    markY_ = std::clamp(y, 0, dotsShape_.height - 1);
    DotCell* before = markedCell_;
    DotCell* after = dotCell(markX_, markY_);
    if (after == before)
        return;
    markedCell_ = after;
    markCell(after, focus || before->hasFocus());
    before->setMarked(false);
}

QString DotGridView::dotName(int x, int y) const
{
    const GlyphFormat format = shownFormat();
    const GlyphFormat::Bit at = format.bitAt(x, y);
    QString name = QStringLiteral("Column %1, row %2, byte %3 bit %4").arg(x + 1).arg(y + 1).arg(at.byte + 1).arg(at.bit);
    if (!pass_.state().DotGrid.hasCell(at.byte, at.bit) || pass_.characterBytes() != format.glyphBytes())
        return name + QStringLiteral(": not in the character");
    return name + (dotCell(x, y)->isLit() ? QStringLiteral(": lit") : QStringLiteral(": unlit"));
}

QString DotGridView::dotToolTip(int x, int y) const
{
    const GlyphFormat format = shownFormat();
    if (pass_.characterBytes() != format.glyphBytes())
        return {};
    const GlyphFormat::Bit at = format.bitAt(x, y);
    return toolTipOf({at.byte, at.bit});
}

void DotGridView::Dot_Click(int x, int y)
{
    const GlyphFormat format = shownFormat();
    const GlyphFormat::Bit at = format.bitAt(x, y);
    if (!pass_.isOpen() || pass_.characterBytes() != format.glyphBytes()) {
        pass_.toggleDot(at.byte, at.bit);
        return;
    }
    std::vector<std::uint8_t> bytes = pass_.displayedColumns();
    bytes[static_cast<std::size_t>(at.byte)] ^= static_cast<std::uint8_t>(1 << at.bit);
    change(QStringLiteral("Switch dot"), std::move(bytes));
}

void DotGridView::setTabNeighbours(QWidget* before, QWidget* after)
{
    tabBefore_ = before;
    tabAfter_ = after;
    setTabOrder(before, markedCell());
    setTabOrder(markedCell(), after);
}

int DotGridView::shownWidth() const
{
    return std::clamp(markWidth(), 1, kArrays);
}

DotCell* DotGridView::cellAt(int column, int bit) const
{
    // The character stands in the rightmost columns of the grid, ColN being
    // the Nth from the left; columns beyond it keep their places.
    const int width = shownWidth();
    const DotOrder order = order_.order();
    if (column >= width)
        return Col(kArrays - column, CharacterGrid::kBits - 1 - dotPlace(0, bit, 1, order).y);
    const DotPlace place = dotPlace(column, bit, width, order);
    return Col(kArrays - width + place.x + 1, CharacterGrid::kBits - 1 - place.y);
}

DotAddress DotGridView::addressOf(int arrayNumber, int index) const
{
    const int width = shownWidth();
    const int x = arrayNumber - 1 - (kArrays - width);
    const int y = CharacterGrid::kBits - 1 - index;
    if (x >= 0)
        return dotAddress(x, y, width, order_.order());
    return {kArrays - arrayNumber, dotAddress(0, y, 1, order_.order()).bit};
}

int DotGridView::markWidth() const
{
    const int width = pass_.state().CharWidth;
    return width > 0 ? width : chosen_().width;
}

void DotGridView::moveMark(int columns, int rows, int toEdge)
{
    if (!dots_.empty()) {
        const int x = toEdge == 0 ? markX_ + columns : toEdge < 0 ? 0 : dotsShape_.width - 1;
        setDotMark(x, markY_ + rows, true);
        return;
    }
    // On screen, in the dot order in force.
    const int width = shownWidth();
    const DotOrder order = order_.order();
    const DotPlace place = dotPlace(markColumn_, markBit_, width, order);
    int x = place.x + columns;
    if (toEdge != 0)
        x = toEdge < 0 ? 0 : width - 1;
    x = std::clamp(x, 0, width - 1);
    const int y = std::clamp(place.y + rows, 0, CharacterGrid::kBits - 1);
    const DotAddress address = dotAddress(x, y, width, order);
    setMark(address.column, address.bit, true);
}

void DotGridView::setMark(int column, int bit, bool focus)
{
    column = std::clamp(column, 0, markWidth() - 1);
    bit = std::clamp(bit, 0, CharacterGrid::kBits - 1);
    DotCell* before = markedCell_;
    DotCell* after = cellAt(column, bit);
    markColumn_ = column;
    markBit_ = bit;
    if (after == before)
        return;
    markedCell_ = after;
    after->setMarked(true);
    if (tabBefore_ != nullptr) {
        setTabOrder(tabBefore_, after);
        setTabOrder(after, tabAfter_);
    }
    if (focus || before->hasFocus())
        after->setFocus(Qt::OtherFocusReason);
    before->setMarked(false);
}

QString DotGridView::cellName(int arrayNumber, int index) const
{
    // Columns counted from the character's left edge as shown, the bit by its number.
    const DotAddress address = addressOf(arrayNumber, index);
    const int fromLeft = arrayNumber - (kArrays - shownWidth());
    QString name = QStringLiteral("Column %1, bit %2").arg(fromLeft).arg(address.bit);
    if (index == CharacterGrid::kBits - 1)
        name += QStringLiteral(" (top)");
    else if (index == 0)
        name += QStringLiteral(" (bottom)");
    if (!pass_.state().DotGrid.hasCell(address.column, address.bit))
        return name + QStringLiteral(": not in the character");
    return name + (Col(arrayNumber, index)->isLit() ? QStringLiteral(": lit") : QStringLiteral(": unlit"));
}

QString DotGridView::cellToolTip(int arrayNumber, int index) const
{
    return toolTipOf(addressOf(arrayNumber, index));
}

QString DotGridView::toolTipOf(DotAddress address) const
{
    const WorkingState& state = pass_.state();
    if (!state.DotGrid.hasCell(address.column, address.bit))
        return {};
    const std::uint8_t byte = state.DotGrid.columnByte(address.column);
    const Position position = state.CurOffset + address.column;
    return QStringLiteral("Position %1, file offset 0x%2\nByte 0x%3 = %4\nBit %5")
        .arg(position.number())
        .arg(hex(static_cast<std::uint64_t>(offsetOf(position)), 8), hex(byte, 2), binary(byte))
        .arg(address.bit);
}

void DotGridView::display()
{
    const WorkingState& state = pass_.state();
    const GlyphFormat format = shownFormat();
    buildDots(format);
    const bool rows = format.lines == GlyphFormat::Lines::Rows;
    bit0OnTop_->setText(rows ? QStringLiteral("&Bit 0 on the left") : QStringLiteral("&Bit 0 on top"));
    firstByteLeft_->setText(rows ? QStringLiteral("First &row at the bottom") : QStringLiteral("First b&yte on the left"));
    if (!dots_.empty()) {
        const bool inCharacter = state.DotGrid.columns() == format.glyphBytes() && state.CharWidth == format.width;
        for (int y = 0; y < format.height; ++y) {
            for (int x = 0; x < format.width; ++x) {
                const GlyphFormat::Bit at = format.bitAt(x, y);
                DotCell* cell = dotCell(x, y);
                cell->setInCharacter(inCharacter);
                if (inCharacter)
                    cell->setLit(state.DotGrid.dot(at.byte, at.bit) == 1);
                else
                    cell->setLit(false);
            }
        }
        updateActions();
        return;
    }
    for (int column = 0; column < kArrays; ++column) {
        for (int bit = CharacterGrid::kBits - 1; bit >= 0; --bit) {
            DotCell* cell = cellAt(column, bit);
            cell->setInCharacter(column < state.CharWidth);
            if (column < state.CharWidth)
                cell->setLit(state.DotGrid.dot(column, bit) == 1);
        }
    }
    // The mark stays where the user left it, within the character's columns.
    setMark(markColumn_, markBit_, false);
    updateActions();
}

void DotGridView::endHistory()
{
    history_.clear();
}

void DotGridView::updateActions()
{
    if (!pass_.isOpen())
        history_.clear();
    for (QAction* action : passActions_)
        action->setEnabled(pass_.isOpen());
}

void DotGridView::Col_Click(int arrayNumber, int index)
{
    const DotAddress address = addressOf(arrayNumber, index);
    if (!pass_.isOpen() || !pass_.state().DotGrid.hasCell(address.column, address.bit)) {
        // Outside a pass a click acts on the grid alone, with no history.
        pass_.toggleDot(address.column, address.bit);
        return;
    }
    std::vector<std::uint8_t> columns = pass_.displayedColumns();
    columns[static_cast<std::size_t>(address.column)] ^= static_cast<std::uint8_t>(1 << address.bit);
    change(QStringLiteral("Switch dot"), std::move(columns));
}

QAction* DotGridView::addTool(const QString& text, const QList<QKeySequence>& keys, std::function<void()> act)
{
    auto* action = new QAction(text, this);
    action->setShortcuts(keys);
    // Shortcuts act anywhere in the window but in its text boxes (Form1).
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, std::move(act));
    addAction(action);
    passActions_.push_back(action);
    return action;
}

void DotGridView::createMenu()
{
    menu_ = new QMenu(this);
    menu_->addAction(addTool(QStringLiteral("&Copy"), QKeySequence::keyBindings(QKeySequence::Copy), [this] { copy(); }));
    menu_->addAction(addTool(QStringLiteral("&Paste"), QKeySequence::keyBindings(QKeySequence::Paste), [this] { paste(); }));
    menu_->addSeparator();

    QAction* undo = history_.createUndoAction(this, QStringLiteral("&Undo"));
    undo->setShortcuts(QKeySequence::Undo);
    QAction* redo = history_.createRedoAction(this, QStringLiteral("&Redo"));
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}) {
        if (!redoKeys.contains(key))
            redoKeys.append(key);
    }
    redo->setShortcuts(redoKeys);
    for (QAction* action : {undo, redo}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        menu_->addAction(action);
    }
    menu_->addSeparator();

    const auto tool = [this](const QString& text, QKeySequence key, GlyphTool glyphTool) {
        // The entry's access key marked with &; the step of the history is named without it.
        const QString name = QString(text).remove(u'&');
        menu_->addAction(addTool(text, {key}, [this, glyphTool, name] { apply(glyphTool, name); }));
    };
    tool(QStringLiteral("C&lear"), QKeySequence::Delete, GlyphTool::Clear);
    tool(QStringLiteral("&Invert"), QKeySequence(Qt::CTRL | Qt::Key_I), GlyphTool::Invert);
    tool(QStringLiteral("&Mirror left-right"), QKeySequence(Qt::SHIFT | Qt::Key_H), GlyphTool::MirrorLeftRight);
    tool(QStringLiteral("&Flip top-bottom"), QKeySequence(Qt::SHIFT | Qt::Key_V), GlyphTool::FlipTopBottom);
    menu_->addSeparator();
    tool(QStringLiteral("S&hift up"), QKeySequence(Qt::CTRL | Qt::Key_Up), GlyphTool::ShiftUp);
    tool(QStringLiteral("Shift &down"), QKeySequence(Qt::CTRL | Qt::Key_Down), GlyphTool::ShiftDown);
    tool(QStringLiteral("Shift l&eft"), QKeySequence(Qt::CTRL | Qt::Key_Left), GlyphTool::ShiftLeft);
    tool(QStringLiteral("Shift ri&ght"), QKeySequence(Qt::CTRL | Qt::Key_Right), GlyphTool::ShiftRight);
    menu_->addSeparator();
    menu_->addAction(addTool(QStringLiteral("Re&vert"), {QKeySequence(Qt::CTRL | Qt::Key_R)}, [this] {
        const auto saved = pass_.savedColumns();
        change(QStringLiteral("Revert"), std::vector<std::uint8_t>(saved.begin(), saved.end()));
    }));
    menu_->addSeparator();
    // How the font keeps its dots: drawing only, at any time.
    bit0OnTop_ = menu_->addAction(QStringLiteral("&Bit 0 on top"));
    firstByteLeft_ = menu_->addAction(QStringLiteral("First b&yte on the left"));
    for (QAction* setting : {bit0OnTop_, firstByteLeft_})
        setting->setCheckable(true);
    connect(bit0OnTop_, &QAction::toggled, &order_, &DotOrderSetting::setBit0OnTop);
    connect(firstByteLeft_, &QAction::toggled, &order_, &DotOrderSetting::setFirstByteLeft);

    // The keyboard's ways to the menu; the action itself is not in it.
    auto* open = new QAction(this);
    open->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)});
    open->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(open, &QAction::triggered, this, [this] {
        const DotCell* marked = markedCell();
        showMenu(marked->mapToGlobal(marked->rect().center()));
    });
    addAction(open);
}

void DotGridView::change(const QString& text, std::vector<std::uint8_t> columns)
{
    std::vector<std::uint8_t> before = pass_.displayedColumns();
    if (!pass_.isOpen() || pass_.isBusy() || columns == before || columns.size() != before.size())
        return;
    history_.push(new GridChange(pass_, text, std::move(before), std::move(columns)));
}

void DotGridView::apply(GlyphTool tool, const QString& text)
{
    std::vector<std::uint8_t> columns = pass_.displayedColumns();
    const GlyphFormat format = shownFormat();
    if (format.isOriginal())
        applyGlyphTool(tool, columns, order_.order());
    else if (static_cast<int>(columns.size()) == format.glyphBytes())
        applyGlyphTool(tool, columns, format);
    change(text, std::move(columns));
}

void DotGridView::copy()
{
    if (pass_.isOpen())
        QGuiApplication::clipboard()->setText(QString::fromStdString(hexText(pass_.displayedColumns())));
}

void DotGridView::paste()
{
    if (!pass_.isOpen())
        return;
    const auto width = static_cast<std::size_t>(pass_.characterBytes());
    const auto bytes = parseHexBytes(QGuiApplication::clipboard()->text().toStdString());
    if (!bytes || bytes->size() != width) {
        // An example of the width on display: the sides of a box.
        std::vector<std::uint8_t> example(width, 0x11);
        example.front() = example.back() = 0x7E;
        emit problem(QStringLiteral("The clipboard holds no character of %1 bytes. Paste takes %1 bytes in hex, such as %2.")
                         .arg(width)
                         .arg(QString::fromStdString(hexText(example))));
        return;
    }
    change(QStringLiteral("Paste"), *bytes);
}

void DotGridView::contextMenuEvent(QContextMenuEvent* event)
{
    showMenu(event->globalPos());
}

void DotGridView::showMenu(const QPoint& globalPosition)
{
    updateActions();
    menu_->exec(globalPosition);
}

} // namespace dotmatrix
