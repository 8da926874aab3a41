#pragma once

#include <array>
#include <functional>
#include <vector>

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "applicationname.h"
#include "commondialog.h"
#include "conversionpass.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace dotmatrix {

class DotGridView;
class DotOrderSetting;
class OverviewWindow;
class TaskWaiter;

// The tool's one window: file choice, starting offset, character size, the
// buttons that drive the pass and the 7 x 8 block of dot cells.
class Form1 : public QWidget, private WindowPort {
    Q_OBJECT

public:
    // Chooses the files given on the command line, as the dialogs would;
    // an empty path chooses nothing.
    void openFiles(const QString& source, const QString& target);
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    [[nodiscard]] const ConversionPass& pass() const { return pass_; }

    // What hovering cell `index` of the array ColN shows: its byte's position,
    // value and bit number; empty where the cell is not part of the character.
    [[nodiscard]] QString cellToolTip(int arrayNumber, int index) const;

    // The window "Overview", once it has been opened.
    [[nodiscard]] OverviewWindow* overview() const { return overview_; }

    // How much larger than drawn the layout stands: 1 at the desktop's usual
    // font, in proportion to a larger one.
    [[nodiscard]] double layoutScale() const { return layoutScale_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    // Return on a focused button presses it, as Space does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A control and where the layout draws it, in twips.
    struct Placed {
        QWidget* control;
        QRect twips;
    };

    void createControls();
    template <typename Control>
    Control* place(QWidget* parent, const QString& name, QRect twips);
    // Sizes the font and places every control at the desktop font's scale.
    void arrangeControls();
    void screenChanged();
    // Gives the window its layout's size again and keeps it on its screen.
    void keepOnScreen();
    void giveTabStopToSelectedSymtype();
    // Takes up what the user chose at the last start: the format and the window's place.
    void restoreSettings();
    void Loadfile_Click();
    void Savefile_Click();
    // Makes `path` the source or the target, with the checks and questions
    // of the file dialogs; false where it is refused or declined.
    bool chooseSource(const QString& path);
    bool chooseTarget(const QString& path);
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void Symtype_Click(int index);
    // "Other format...": picks a format of any shape, which then stands in for `Symtype`.
    void OtherFormat_Click(QWidget* over = nullptr);
    // Puts `format` in force as `Symtype` would: one of its options for the
    // four sizes, the other format for any other.
    void chooseFormat(const GlyphFormat& format);
    // The format chosen now, in the dot order in force.
    [[nodiscard]] GlyphFormat selectedFormat() const;
    // Shows which format is in force: the option, or the other format's words.
    void showFormatInForce();
    // Gives the grid the room of its shape, growing the window where it must.
    void fitGrid();
    void OverviewButt_Click();
    // Goes to a glyph the overview offers: the starting offset before a
    // pass, a move during one.
    void goToGlyph(Position position);
    // Brings a PNG sheet's glyphs into the target, from `first` unless the sheet says where.
    void importSheet(Position first);
    // Tells the overview what to show now; `show` is kept in view.
    void refreshOverview(std::optional<Position> show = std::nullopt);
    // What the overview is to show now.
    [[nodiscard]] ImageView image() const;
    void selectSymtypeOfCharWidth();
    void paintReadOnlyBoxes();
    // A modal box with the exclamation icon and OK alone, titled with the tool's name.
    void showWarning(const QString& text);
    // A modal question with `buttons`; `safe` is the default and Escape's answer.
    // Where `follow` is given, the text follows it while the question is open.
    [[nodiscard]] QMessageBox::StandardButton ask(const QString& text, QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton safe,
                                                  const std::function<QString()>& follow = {});
    // During a pass the files stay as they are: says so and returns false.
    [[nodiscard]] bool filesMayChange();
    // Where the file `shown` as `chosenAs` is the `other` one already, asks
    // whether one file may be both, No being the default. True where it may.
    [[nodiscard]] bool oneFileMayServeBoth(const QString& shown, const std::string& other, PassFile chosenAs);

    // WindowPort
    [[nodiscard]] std::string offsetText() const override;
    [[nodiscard]] int selectedSymtype() const override;
    [[nodiscard]] std::optional<GlyphFormat> chosenFormat() const override;
    void setCuroffText(const std::string& text) override;
    void setStartButtEnabled(bool enabled) override;
    void characterRenewed() override;
    void veskdisplay() override;
    void showCompleted(const std::string& note) override;
    void showProblem(const std::string& message) override;
    bool confirm(Asking asking, const std::string& question, bool yesByDefault) override;
    void runTask(BackgroundTask& task) override;
    void busyChanged() override;
    void showStopped(const std::string& message) override;

    ConversionPass pass_{*this};
    CommonDialog CommonDialog1;
    bool selectingSymtype_ = false;
    std::vector<Placed> placed_;
    // The window's size in twips: as drawn, or larger for a larger grid.
    QSize windowTwips_{7032, 4584};
    // A format other than the four sizes, where one is chosen.
    std::optional<GlyphFormat> otherFormat_;
    double layoutScale_ = 1.0;
    // Waits for copies and syncs, and closes the window after one where asked to.
    TaskWaiter* waiter_ = nullptr;
    // True where disabling "Start processing" handed its focus on: a start
    // that opens no pass gives it back.
    bool startGaveFocus_ = false;

    QPushButton* Loadfile = nullptr;
    QLineEdit* sfile = nullptr;
    QLineEdit* ttext = nullptr;
    QPushButton* Savefile = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Offset = nullptr;
    QGroupBox* Csize = nullptr;
    std::array<QRadioButton*, 4> Symtype{};
    QPushButton* OtherFormat = nullptr;
    QLabel* FormatWords = nullptr;
    QPushButton* StartButt = nullptr;
    QPushButton* BackButt = nullptr;
    QPushButton* FwButt = nullptr;
    QPushButton* SkipButt = nullptr;
    QPushButton* Stepback = nullptr;
    QPushButton* Stepfwd = nullptr;
    QPushButton* OverviewButt = nullptr;
    OverviewWindow* overview_ = nullptr;
    QLineEdit* curoff = nullptr;
    QLabel* Label2 = nullptr;
    // The cells ColN(index) and their tools.
    DotGridView* grid_ = nullptr;
    // How the grid and the overview draw the dots.
    DotOrderSetting* dotOrder_ = nullptr;
    // True from a write-back until the overview has read the files again.
    bool overviewStale_ = false;
    // Waits for the checksum look of a pass to end, to show what it found.
    QTimer lookWatch_;
};

} // namespace dotmatrix
