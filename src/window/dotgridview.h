#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include <QUndoStack>
#include <QWidget>

#include "conversionpass.h"
#include "dotordersetting.h"
#include "glyphtools.h"

class QAction;
class QMenu;

namespace dotmatrix {

class DotCell;

// The block of dot cells that shows and edits the character on display: the
// 7 x 8 cells ColN(index) for the four original sizes, W x H cells Dot(x,y)
// for any other format. Clicks and the keyboard's mark switch dots, and a
// context menu with shortcuts copies, pastes, shifts, mirrors, inverts,
// clears and reverts the character, with an undo history that each capture
// or write-back starts anew. Every change reaches the pass as clicks would.
class DotGridView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kArrays = 7;
    static constexpr int kCellsPerArray = 8;

    // `chosen` gives the format the window has chosen, shown before any pass.
    DotGridView(ConversionPass& pass, DotOrderSetting& order, std::function<GlyphFormat()> chosen, QWidget* parent);

    // Each cell ColN(index) with where it stands in the grid, in twips.
    [[nodiscard]] std::vector<std::pair<QWidget*, QRect>> cellPlaces() const;
    // The grid's size in twips, for the format shown.
    [[nodiscard]] QSize twipSize() const;
    // The format the grid shows, in the dot order in force: the pass's, or
    // the one chosen before a pass.
    [[nodiscard]] GlyphFormat shownFormat() const;
    // The cell of the dot shown at (x, y) in a format other than the four
    // sizes; none where the grid shows ColN.
    [[nodiscard]] DotCell* dotCell(int x, int y) const;

    // The cell ColN(index), N = 1 to 7.
    [[nodiscard]] DotCell* Col(int arrayNumber, int index) const
    {
        return cells_[static_cast<std::size_t>(arrayNumber - 1)][static_cast<std::size_t>(index)];
    }
    // The cell that holds the keyboard's mark, the grid's one Tab stop.
    [[nodiscard]] DotCell* markedCell() const { return markedCell_; }
    // The controls in front of and behind the grid in the Tab order.
    void setTabNeighbours(QWidget* before, QWidget* after);

    // Paints the pass's `DotGrid` onto the cells, in the dot order in force.
    void display();
    // The character on display was written back or captured anew: its
    // changes can no longer be undone.
    void endHistory();
    // Every action of the grid's menu that has a shortcut.
    [[nodiscard]] QList<QAction*> shortcutActions() const { return actions(); }
    // Enables what can act now; called at every display and whenever a pass ends.
    void updateActions();

    // What hovering cell `index` of ColN shows: its byte's position, value and
    // bit number; empty where the cell is not part of the character.
    [[nodiscard]] QString cellToolTip(int arrayNumber, int index) const;

signals:
    // A tool could not act; the text says why.
    void problem(const QString& text);
    // The grid took another shape: its size in twips has changed.
    void shapeChanged();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // A cell of the grid, named `name`, with what it says and does.
    DotCell* makeCell(const QString& name, std::function<QString()> toolTip, std::function<QString()> accessibleName,
                      std::function<void()> click);
    [[nodiscard]] DotCell* cellAt(int column, int bit) const;
    // The byte column and bit that cell `index` of ColN shows.
    [[nodiscard]] DotAddress addressOf(int arrayNumber, int index) const;
    [[nodiscard]] int markWidth() const;
    // The width the cells show a character at: the pass's, or the fallback's before one.
    [[nodiscard]] int shownWidth() const;
    void moveMark(int columns, int rows, int toEdge);
    void setMark(int column, int bit, bool focus);
    [[nodiscard]] QString cellName(int arrayNumber, int index) const;
    [[nodiscard]] QString toolTipOf(DotAddress address) const;
    void Col_Click(int arrayNumber, int index);
    // Makes the cells Dot(x,y) for `format`, or none for the four sizes.
    void buildDots(const GlyphFormat& format);
    void placeDots();
    // Dot (x, y) as the keyboard's mark, or its byte and bit.
    void setDotMark(int x, int y, bool focus);
    void markCell(DotCell* cell, bool focus);
    [[nodiscard]] QString dotName(int x, int y) const;
    [[nodiscard]] QString dotToolTip(int x, int y) const;
    void Dot_Click(int x, int y);
    QAction* addTool(const QString& text, const QList<QKeySequence>& keys, std::function<void()> act);
    void createMenu();
    // Puts `columns` into the grid as one step of the history.
    void change(const QString& text, std::vector<std::uint8_t> columns);
    void apply(GlyphTool tool, const QString& text);
    void copy();
    void paste();
    void showMenu(const QPoint& globalPosition);

    ConversionPass& pass_;
    DotOrderSetting& order_;
    std::function<GlyphFormat()> chosen_;
    std::array<std::array<DotCell*, kCellsPerArray>, kArrays> cells_{};
    // The cells of another format, row by row, and that format's shape.
    std::vector<DotCell*> dots_;
    GlyphFormat dotsShape_;
    int markX_ = 0;
    int markY_ = 0;
    QWidget* tabBefore_ = nullptr;
    QWidget* tabAfter_ = nullptr;
    // The keyboard's mark: a column of the character and a bit.
    int markColumn_ = 0;
    int markBit_ = 7;
    DotCell* markedCell_ = nullptr;
    QUndoStack history_;
    QMenu* menu_ = nullptr;
    QAction* bit0OnTop_ = nullptr;
    QAction* firstByteLeft_ = nullptr;
    std::vector<QAction*> passActions_;
};

} // namespace dotmatrix
