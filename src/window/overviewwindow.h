#pragma once

#include <functional>

#include <QWidget>

#include "dotordersetting.h"
#include "fontscan.h"
#include "glyphview.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSpinBox;

namespace dotmatrix {

// The window "Overview": the glyphs of the file around the offset, many at
// once, with buttons that shift every glyph by a byte, a dot size, the dot
// order, a box that finds a character by its code, and a line that says
// what was read or why something could not be done.
class OverviewWindow : public QWidget {
    Q_OBJECT

public:
    OverviewWindow(DotOrderSetting& order, QWidget* parent);

    [[nodiscard]] GlyphView* view() const { return view_; }
    // The glyph's context menu, for entries of the window's owner to join.
    [[nodiscard]] QMenu* glyphMenu() const { return glyphMenu_; }
    // Shows `text` in the line under the glyphs.
    void setStatus(const QString& text);
    // Asks which character the glyph at `position` is, and names it so.
    void askCharacter(Position position);
    // Selects the glyph of the character typed into "Go to character".
    void goToCharacter();
    // Asks how many glyphs from `first` on, and where to, and writes them
    // out in the format of the filter chosen: PNG, BDF, C or raw bytes.
    void exportGlyphs(Position first, std::int64_t proposed);
    // Scans the file for fonts in the window "Fonts found".
    void findFonts();
    // Shows a place that looks like a font: its order, alignment and first glyph.
    void showFont(const FontCandidate& candidate);
    [[nodiscard]] class FontsFoundWindow* fontsFound() const { return fontsFound_; }
    // Takes the place and size the user left it in at the last start, where there is one.
    void restorePlace();
    // Reads on a thread of its own while the window stays alive, with
    // Cancel where it takes long; nothing where the user gave up waiting.
    [[nodiscard]] std::optional<PreviewReader::View> readAside(const PreviewReader::Request& request);


protected:
    void hideEvent(QHideEvent* event) override;

signals:
    // The user asked to go to the glyph at `position`.
    void jumpRequested(dotmatrix::Position position);
    // The user asked to bring a PNG sheet in, at `first` unless it says where.
    void importRequested(dotmatrix::Position first);
    // A place that looks like a font was chosen; its width is to be shown.
    void fontChosen(const dotmatrix::FontCandidate& candidate);
    // "Other format..." was pressed: the owner picks the format.
    void formatRequested();

protected:
    void changeEvent(QEvent* event) override;

private:
    // A modal box with OK, titled as the tool's boxes are.

    GlyphView* view_ = nullptr;
    QSpinBox* dotSize_ = nullptr;
    QCheckBox* bit0OnTop_ = nullptr;
    QCheckBox* firstByteLeft_ = nullptr;
    QLineEdit* goTo_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* checksum_ = nullptr;
    class FontsFoundWindow* fontsFound_ = nullptr;
    DotOrderSetting& order_;
    QMenu* glyphMenu_ = nullptr;
    Position menuGlyph_{1};
};

} // namespace dotmatrix
