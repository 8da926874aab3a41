#pragma once

#include <memory>

class QSettings;
class QWidget;

namespace dotmatrix {

// What the window remembers for its user from one start to the next: the
// folders of the file dialogs, the format, the overview's dot size and the
// places of the windows. Nothing of a pass: no files, positions or edits.
[[nodiscard]] std::unique_ptr<QSettings> userSettings();

// Moves and, where it must, shrinks `window` so that it lies wholly within
// the available area of the screen that holds `near` (or its own screen).
void fitOnScreen(QWidget& window, const QWidget* near = nullptr);

} // namespace dotmatrix
