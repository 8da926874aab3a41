#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QAbstractScrollArea>
#include <QImage>

#include "position.h"
#include "previewreader.h"

namespace dotmatrix {

// A view of many characters of a file at once: rows of glyphs at the
// current width, each drawn as the grid draws a character, with the
// position of each row's first glyph beside it. It reads only what it
// shows, on a reader thread, and again at every repaint. A click, Enter or
// a screen reader's press on a glyph asks to go there.
class GlyphView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // What the view shows and marks, asked for whenever it reads.
    struct Files {
        std::string sourcePath;
        std::string targetPath;       // empty outside a pass
        Position writtenThrough{0};
        int width = 5;
        // The character on display during a pass; 0 where there is none.
        Position marked{0};
        // True while a copy owns the files: nothing is read meanwhile.
        bool busy = false;
    };

    static constexpr int kSmallestDot = 2;
    static constexpr int kLargestDot = 12;

    GlyphView(std::function<Files()> files, QWidget* parent);
    ~GlyphView() override;

    // Reads the files again and repaints; shows `position` where given.
    void refresh(std::optional<Position> show = std::nullopt);
    // Every glyph starts `bytes` later (or earlier) in the file.
    void shiftAlignment(int bytes);
    // Glyphs start at `position` and every glyph width from it.
    void alignTo(Position position);
    void setDotSize(int pixels);
    [[nodiscard]] int dotSize() const { return dot_; }

    // The first position of the glyph that holds the keyboard's selection.
    [[nodiscard]] Position selected() const { return Position(selected_); }
    // The first positions of the glyphs in view.
    [[nodiscard]] std::vector<Position> glyphsInView() const;
    // Where the glyph at `position` stands in the viewport; empty where it is not in view.
    [[nodiscard]] QRect glyphRect(Position position) const;
    // The bytes of a glyph in view as the grid's Copy writes them; empty where unknown.
    [[nodiscard]] QString glyphBytes(Position position) const;
    // True once what is shown was read for the current place and width.
    [[nodiscard]] bool upToDate() const;
    // Asks to go to the glyph at `position`.
    void activate(Position position);

signals:
    void activated(dotmatrix::Position position);
    void problemChanged(const QString& problem);
    void dotSizeChanged(int pixels);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    friend class AccessibleGlyphView;

    [[nodiscard]] int glyphWidth() const { return shownFiles_.width; }
    // Takes what the view is to show now from its owner.
    void takeFiles();
    [[nodiscard]] int labelWidth() const;
    [[nodiscard]] int pitchX() const;
    [[nodiscard]] int pitchY() const;
    [[nodiscard]] int columns() const;
    [[nodiscard]] int rowsInView() const;
    [[nodiscard]] std::int64_t rowBytes() const { return std::int64_t{columns()} * glyphWidth(); }
    [[nodiscard]] std::int64_t rowStart(std::int64_t row) const { return 1 + alignment_ + row * rowBytes(); }
    [[nodiscard]] std::int64_t rowCount() const;
    // The length the view covers, as last read; 0 before the first read.
    [[nodiscard]] std::int64_t fileLength() const { return view_ ? view_->length : 0; }
    [[nodiscard]] std::int64_t rowOf(std::int64_t position) const;
    [[nodiscard]] std::optional<std::int64_t> glyphAt(QPoint point) const;
    [[nodiscard]] bool offered(std::int64_t position) const;
    // Reads what the viewport shows, unless a copy owns the files.
    void requestRead();
    void viewArrived();
    void updateScrollBar();
    void setTopRow(std::int64_t row);
    void select(std::int64_t position);
    void ensureSelectedVisible();
    void renderGlyphs();
    // Tells screen readers which glyphs are in view now.
    void glyphsChanged();

    std::function<Files()> files_;
    std::unique_ptr<PreviewReader> reader_;
    // The newest read asked for.
    std::uint64_t serial_ = 0;
    std::optional<PreviewReader::View> view_;
    Files shownFiles_;
    QString problem_;
    std::int64_t alignment_ = 0;
    std::int64_t topRow_ = 0;
    std::int64_t rowsPerStep_ = 1;
    std::int64_t selected_ = 1;
    int dot_ = 4;
    bool repaintAfterRead_ = false;
    QImage glyphImage_;
};

// Makes glyph views known to screen readers: each glyph in view a button
// named by its position, described by its bytes, whose press goes there.
void installGlyphViewAccessibility();

} // namespace dotmatrix
