#pragma once

#include <string>

#include <optional>

#include "backgroundtask.h"
#include "glyphformat.h"

namespace dotmatrix {

// What the pass asks about, for a window that answers without a person.
enum class Asking {
    StartPastTheEnd,  // a start behind the source's end writes zeros in front
    TailCopy,         // "Skip the rest" would replace changes
    Import,           // a sheet's glyphs are to be written
    Checksum,         // the target's checksum is to be brought up to date
};

// The window as the conversion pass sees it: the controls it reads and writes,
// and the messages it shows. The main window implements it; tests record it.
class WindowPort {
public:
    virtual ~WindowPort() = default;

    // The text of `Offset`, as typed.
    [[nodiscard]] virtual std::string offsetText() const = 0;
    // The index of the selected `Symtype` option (0 to 3), or -1 if none is selected.
    [[nodiscard]] virtual int selectedSymtype() const = 0;
    // A glyph format other than the four sizes, where one is chosen: it then
    // stands in for `Symtype`.
    [[nodiscard]] virtual std::optional<GlyphFormat> chosenFormat() const { return std::nullopt; }
    // Sets the text of `curoff`.
    virtual void setCuroffText(const std::string& text) = 0;
    // Enables or disables `StartButt`.
    virtual void setStartButtEnabled(bool enabled) = 0;
    // Paints the pass's `DotGrid` onto the cells.
    virtual void veskdisplay() = 0;
    // The character on display has been written back or captured anew:
    // whatever the window remembers of its earlier dots ends here.
    virtual void characterRenewed() {}
    // Shows "Completed", followed by `note` where there is one, and returns
    // once the user has closed it.
    virtual void showCompleted(const std::string& note = {}) = 0;
    // Shows a refusal or a file error and returns once the user has closed it.
    virtual void showProblem(const std::string& message) = 0;
    // Asks a question about `asking` with Yes and No, No being the default
    // unless `yesByDefault`; true for Yes.
    virtual bool confirm(Asking asking, const std::string& question, bool yesByDefault = false) = 0;
    // Starts `task`, a copy or a sync, on its own thread and returns once it
    // has finished. Meanwhile the window stays alive but takes no input for
    // the pass, shows the progress of a long task and lets the user stop it.
    // During the prefix copy `curoff` counts the positions copied.
    virtual void runTask(BackgroundTask& task) = 0;
    // A task has taken the pass's files, or given them back: a view of them
    // reads nothing meanwhile.
    virtual void busyChanged() {}
    // Says what a copy the user stopped has left; the window may leave it
    // unsaid where the copy was stopped to close the window.
    virtual void showStopped(const std::string& message) = 0;
};

} // namespace dotmatrix
