#pragma once

#include <functional>

#include <QFrame>

namespace dotmatrix {

// One dot of the grid: a plain panel whose background shows the dot and whose
// click switches it. Operated with the mouse only. A lit dot is pure red; an
// unlit one has the button face of the palette in force, whatever the theme.
class DotCell : public QFrame {
    Q_OBJECT

public:
    explicit DotCell(QWidget* parent);

    void setLit(bool lit);
    [[nodiscard]] bool isLit() const { return lit_; }

    // Supplies the tooltip at the moment the mouse rests on the cell.
    void setToolTipSource(std::function<QString()> source) { toolTipSource_ = std::move(source); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::function<QString()> toolTipSource_;
    bool pressed_ = false;
    bool lit_ = false;
};

} // namespace dotmatrix
