#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QAbstractScrollArea>
#include <QImage>
#include <QTimer>

#include "charactercode.h"
#include "glyphformat.h"
#include "glyphlayout.h"
#include "glyphtools.h"
#include "position.h"
#include "previewreader.h"

namespace dotmatrix {

// A view of many glyphs of a file at once: rows of glyphs in the current
// format, each drawn as the grid draws a character, with the position of each
// row's first glyph beside it. It reads only what it shows, on a reader
// thread, whenever something may have changed it: a scroll, a resize, a new
// width or alignment, a refresh from its owner, and twice a second while it
// is shown, for other programs. A click, Enter or a screen reader's press on
// a glyph asks to go there.
class GlyphView : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr int kSmallestDot = 2;
    static constexpr int kLargestDot = 12;

    explicit GlyphView(QWidget* parent);
    ~GlyphView() override;

    // What the view is to show from now on; read at the next refresh. A
    // view that is busy reads nothing, and keeps what it has on show.
    void setImage(ImageView image);
    // Reads the files again and repaints; shows `position` where given.
    void refresh(std::optional<Position> show = std::nullopt);
    // Every glyph starts `bytes` later (or earlier) in the file.
    void shiftAlignment(int bytes);
    // Glyphs start at `position` and every glyph width from it.
    void alignTo(Position position);
    void setDotSize(int pixels);
    [[nodiscard]] int dotSize() const { return layout_.dotSize(); }
    [[nodiscard]] const GlyphLayout& layout() const { return layout_; }
    [[nodiscard]] DotOrder order() const { return shown_.format.order; }
    [[nodiscard]] const GlyphFormat& format() const { return shown_.format; }
    // What the view shows, for a scan or a read of its own; nothing
    // while a copy owns them.
    [[nodiscard]] std::optional<ImageView> image() const;

    // The first position of the glyph that holds the keyboard's selection.
    [[nodiscard]] Position selected() const { return Position(selected_); }
    // The first glyph of the selection and how many it spans: one, or a
    // range made with Shift and a click or the arrow keys.
    [[nodiscard]] std::pair<Position, std::int64_t> selection() const;
    // What to read for the glyphs from `first` on, `count` of them at the
    // width in force, as the view shows them.
    [[nodiscard]] PreviewReader::Request glyphsRequest(Position first, std::int64_t count) const;
    // Selects the glyph that holds `position` and brings it into view.
    void selectGlyph(Position position);
    // The first positions of the glyphs in view.
    [[nodiscard]] std::vector<Position> glyphsInView() const { return layout_.glyphsInView(); }
    // Where the glyph at `position` stands in the viewport; empty where it is not in view.
    [[nodiscard]] QRect glyphRect(Position position) const;
    // The bytes of a glyph in view as the grid's Copy writes them; empty where unknown.
    [[nodiscard]] QString glyphBytes(Position position) const;
    // The bytes of a glyph in view and the character it stands for, where one is marked.
    [[nodiscard]] QString glyphDescription(Position position) const;
    // True once what is shown was read for the current place and width.
    [[nodiscard]] bool upToDate() const;
    // Reads asked for since the view was made.
    [[nodiscard]] int readCount() const { return readCount_; }
    // Asks to go to the glyph at `position`.
    void activate(Position position);

    // Names the glyph at `position` as the character `code`; false, with the
    // reason said, where that would put code 0 before position 1.
    bool markCharacter(Position position, int code);
    [[nodiscard]] const std::optional<CharacterMark>& characterMark() const { return mark_; }
    // The code of the glyph at `position`, where a character is marked.
    [[nodiscard]] std::optional<int> codeOf(Position position) const;

signals:
    void activated(dotmatrix::Position position);
    void problemChanged(const QString& problem);
    // A request the view could not follow, with the reason.
    void refused(const QString& reason);
    void dotSizeChanged(int pixels);
    void checksumLineChanged(const QString& line);
    // The glyphs are drawn in another format, named in `words`.
    void formatChanged(const QString& words);
    // The context menu of the glyph at `position`, at `globalPoint`.
    void glyphMenuRequested(dotmatrix::Position position, const QPoint& globalPoint);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The bytes from glyph to glyph, and the bytes of one glyph.
    [[nodiscard]] int glyphWidth() const { return layout_.width(); }
    [[nodiscard]] int glyphSize() const { return shown_.format.glyphBytes(); }
    // Gives the labels the room of the longest position and code shown.
    void fitLabels();
    [[nodiscard]] QString rowLabel(std::int64_t row) const;
    // Reads what the viewport shows, unless a copy owns the files; a local
    // file is there at once, so the next paint shows it.
    void readNow();
    // Asks the reader for what the viewport shows; false where nothing is read.
    bool requestRead();
    void viewArrived();
    void updateScrollBar();
    void setTopRow(std::int64_t row);
    // Moves the selection; with `extend`, the range from the anchor grows or shrinks.
    void select(std::int64_t position, bool extend = false);
    void ensureSelectedVisible();
    // Something that changes which glyphs are where: read and repaint.
    void placesChanged();
    void renderGlyphs();
    // Tells screen readers which glyphs are in view now.
    void glyphsChanged();

    std::unique_ptr<PreviewReader> reader_;
    // Other programs may change the files: read them twice a second while shown.
    QTimer watch_;
    // The newest read asked for.
    std::uint64_t serial_ = 0;
    int readCount_ = 0;
    std::optional<PreviewReader::View> view_;
    ImageView shown_;
    GlyphLayout layout_;
    QString problem_;
    std::int64_t selected_ = 1;
    // The other end of a range selected with Shift; nothing for a single glyph.
    std::optional<std::int64_t> anchor_;
    std::optional<CharacterMark> mark_;
    QImage glyphImage_;
};

// Makes glyph views known to screen readers: each glyph in view a button
// named by its position, described by its bytes and character, whose press
// goes there.
void installGlyphViewAccessibility();

} // namespace dotmatrix
