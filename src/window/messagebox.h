#pragma once

#include <QMessageBox>
#include <QString>

namespace dotmatrix {

// Runs `box` modally, wide enough for its title; the button pressed.
int runBox(QMessageBox& box);
// Shows a warning over `parent`, titled as every box of the tool, and
// returns once the user has closed it.
void warn(QWidget* parent, const QString& text);

} // namespace dotmatrix
