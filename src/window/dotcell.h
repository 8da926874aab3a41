#pragma once

#include <functional>

#include <QFrame>

namespace dotmatrix {

// One dot of the grid: a plain panel whose background shows the dot and whose
// click switches it. A lit dot is pure red; an unlit one has the button face
// of the palette in force, whatever the theme. The cell that holds the
// keyboard's mark is the grid's one Tab stop: Space switches it, the arrow
// keys, Home and End ask to move the mark, and a ring shows it while focused.
class DotCell : public QFrame {
    Q_OBJECT

public:
    explicit DotCell(QWidget* parent);

    void setLit(bool lit);
    [[nodiscard]] bool isLit() const { return lit_; }

    // Supplies the tooltip, also the accessible description, when asked.
    void setToolTipSource(std::function<QString()> source) { toolTipSource_ = std::move(source); }
    [[nodiscard]] QString toolTipText() const { return toolTipSource_ ? toolTipSource_() : QString(); }
    // Supplies the accessible name: where the cell is and what it shows.
    void setNameSource(std::function<QString()> source) { nameSource_ = std::move(source); }
    [[nodiscard]] QString nameText() const { return nameSource_ ? nameSource_() : QString(); }
    // False where the cell lies beyond the character's width.
    void setInCharacter(bool inCharacter) { inCharacter_ = inCharacter; }
    [[nodiscard]] bool inCharacter() const { return inCharacter_; }

    // Makes this cell the grid's Tab stop, or takes that from it.
    void setMarked(bool marked);

signals:
    void clicked();
    // An arrow key asks the mark to move by columns and rows; Home and End
    // ask for the first or last column of the row (`toEdge` -1 or 1).
    void markMoveRequested(int columns, int rows, int toEdge);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::function<QString()> toolTipSource_;
    std::function<QString()> nameSource_;
    bool pressed_ = false;
    bool lit_ = false;
    bool inCharacter_ = false;
};

// Makes dot cells known to screen readers as check boxes with a toggle action.
void installDotCellAccessibility();

} // namespace dotmatrix
