#pragma once

#include <functional>

#include <QWidget>

#include "glyphview.h"

class QLabel;
class QSpinBox;

namespace dotmatrix {

// The window "Overview": the glyphs of the file around the offset, many at
// once, with buttons that shift every glyph by a byte, a dot size, and a
// line that says what was read or why it could not be.
class OverviewWindow : public QWidget {
    Q_OBJECT

public:
    OverviewWindow(std::function<GlyphView::Files()> files, QWidget* parent);

    [[nodiscard]] GlyphView* view() const { return view_; }

signals:
    // The user asked to go to the glyph at `position`.
    void jumpRequested(dotmatrix::Position position);

private:
    GlyphView* view_ = nullptr;
    QSpinBox* dotSize_ = nullptr;
    QLabel* status_ = nullptr;
};

} // namespace dotmatrix
