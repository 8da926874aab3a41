#pragma once

#include <QDialog>

#include "glyphformat.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace dotmatrix {

// "Other format...": picks a glyph format of any shape, bytes as columns or
// rows, 1 to 32 dots each way, the byte order of tall columns, the dot order
// and the pitch, and names it in words as it is picked.
class FormatDialog : public QDialog {
    Q_OBJECT

public:
    FormatDialog(const GlyphFormat& shown, QWidget* parent);

    // The format as picked now.
    [[nodiscard]] GlyphFormat format() const;

private:
    // Keeps the controls consistent with what is picked: the texts of the
    // dot order for rows or columns, the byte order only where columns are
    // taller than 8, a pitch no shorter than a glyph.
    void follow();

    QComboBox* lines_ = nullptr;
    QSpinBox* width_ = nullptr;
    QSpinBox* height_ = nullptr;
    QComboBox* pages_ = nullptr;
    QCheckBox* bit0_ = nullptr;
    QCheckBox* firstByte_ = nullptr;
    QSpinBox* pitch_ = nullptr;
    QLabel* words_ = nullptr;
    // The glyph's own bytes as last followed: a pitch equal to them follows them.
    int glyphBytes_ = 0;
};

} // namespace dotmatrix
