#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionFrame>
#include <QRegularExpression>
#include <QSettings>
#include <QFileInfo>
#include <QDropEvent>
#include <QUrl>
#include <QSpinBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <qpa/qwindowsysteminterface.h>

#include "checksum.h"
#include "dotcell.h"
#include "glyphtools.h"
#include "overviewwindow.h"
#include "form1.h"
#include "taskwaiter.h"
#ifdef DOTMATRIX_FONT_IMAGES
#include <QListWidget>

#include "fontimages.h"
#include "fontsfoundwindow.h"
#endif
#include "testfiles.h"

using dotmatrix::DotCell;
using dotmatrix::Form1;

namespace {

QByteArray countingBytes(int count)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Answers every modal the window opens: message boxes are read and closed
// with OK; file dialogs take the next queued choice, or are cancelled.
class ModalAnswerer : public QObject {
public:
    ModalAnswerer()
    {
        connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::answer);
        timer_.start(2);
    }

    QStringList messages;
    QStringList titles;
    QList<int> widths;
    // Answers to questions in turn; with none left, a question gets Escape.
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<std::function<void(QFileDialog*)>> fileChoices;
    // Answers to the tool's own dialogs in turn; with none left, Cancel.
    std::deque<std::function<void(QDialog*)>> dialogs;
    // Texts typed into input dialogs in turn; with none left, Cancel.
    std::deque<QString> texts;
    // How long a question stays open before it is answered, and what it said by then.
    int holdMilliseconds = 0;
    QStringList answeredTexts;
    // Per dialog: the file it proposed on opening, its filters and the selected one.
    QStringList proposed;
    QStringList filters;
    QStringList selectedFilters;

    static std::function<void(QFileDialog*)> choose(const QString& path)
    {
        return [path](QFileDialog* dialog) {
            // As a user would: drop the proposed file and type the name.
            dialog->findChild<QListView*>(QStringLiteral("listView"))->selectionModel()->clear();
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        };
    }
    static std::function<void(QFileDialog*)> cancel()
    {
        return [](QFileDialog* dialog) { dialog->reject(); };
    }

private:
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == answering_)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (box != held_) {
                held_ = box;
                heldFor_.start();
                messages << box->text();
                titles << box->windowTitle();
                widths << box->width();
            }
            if (heldFor_.elapsed() < holdMilliseconds)
                return;
            answeredTexts << box->text();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else if (!answers.empty()) {
                box->button(answers.front())->click();
                answers.pop_front();
            } else {
                QTest::keyClick(box, Qt::Key_Escape);
            }
        } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
            messages << input->labelText();
            titles << input->windowTitle();
            if (texts.empty()) {
                input->reject();
                return;
            }
            if (input->inputMode() == QInputDialog::IntInput)
                input->setIntValue(texts.front().toInt());
            else
                input->setTextValue(texts.front());
            texts.pop_front();
            input->accept();
        } else if (auto* own = qobject_cast<QDialog*>(modal); own != nullptr && qobject_cast<QFileDialog*>(modal) == nullptr
                                                               && qobject_cast<QProgressDialog*>(modal) == nullptr) {
            titles << own->windowTitle();
            if (dialogs.empty()) {
                own->reject();
                return;
            }
            auto choice = std::move(dialogs.front());
            dialogs.pop_front();
            answering_ = own;
            QTimer::singleShot(0, own, [this, choice = std::move(choice), own] {
                choice(own);
                answering_ = nullptr;
            });
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            proposed << dialog->selectedFiles().value(0);
            const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QStringList shown;
            for (int i = 0; i < types->count(); ++i)
                shown << types->itemText(i);
            filters << shown.join(u'|');
            selectedFilters << types->currentText();
            if (fileChoices.empty()) {
                dialog->reject();
                return;
            }
            // Answered once this timer's call is over: a box the dialog opens
            // in turn (Qt's "File not found") must find the timer free.
            auto choice = std::move(fileChoices.front());
            fileChoices.pop_front();
            answering_ = dialog;
            QTimer::singleShot(0, dialog, [this, choice = std::move(choice), dialog] {
                choice(dialog);
                answering_ = nullptr;
            });
        }
    }

    QTimer timer_;
    QPointer<QWidget> answering_;
    QPointer<QMessageBox> held_;
    QElapsedTimer heldFor_;
};

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensWithTheInitialState();
    void controlsStandWhereTheyAreDrawn();
    void onlyOffsetTakesTyping();
    void wholePassByClicksFollowsTheContentRule();
    void cellsShowColumnsRightToLeftWithBitSevenOnTop();
    void clicksOutsideTheCharacterAreIgnored();
    void clickOnTheSelectedSizeDoesNothing();
    void refusedStartAndFileErrorLeaveTheWindowUsable();
    void dialogsRememberTheLastChoiceAndCancelChangesNothing();
    void pathsAreKeptAsTheDialogReturnsThem();
    void tooltipsLinkCellsToBytes();
    void randomClicksNeverLeaveStartDisabledWithoutAPass();
    void closingDuringAPassAsksFirst();
    void returnPressesTheFocusedButton();
    void paletteAndThemeChangesShowAtOnce();
    void captionsFitAtEveryScale();
    void boxesShowTheirWholeTitle();
    void skipAsksBeforeReplacingChanges();
    void filesStayDuringAPass();
    void copiesKeepTheWindowAliveAndDropInput();
    void nothingActsOnThePassWhileACopyRuns();
    void longCopiesShowProgressAndCancel();
    void gridWorksByKeyboard();
    void glyphToolsEditTheCharacterWithUndo();
    void otherFormatsEditInTheirOwnShape();
    void overviewShowsTheGlyphsAndGoesWhereClicked();
    void screenReadersGetNamesStatesAndActions();
    void undoFollowsEveryEditAndEndsWithEveryWriteBack();
    void dotOrderChangesTheDrawingNeverTheBytes();
    void overviewNamesCharactersAndSleepsWhenIdle();
    void waitingForATaskHoldsTheWindowAndGivesItBack();
    void glyphsGoOutToASheetAndComeBackIn();
    void findFontsListsTheFontAndGoesThere();
    void filesComeFromTheCommandLineAndByDrops();
    void settingsAreKeptFromOneStartToTheNext();
    void windowFollowsScreenScale();

private:
    // Captions and ten-digit positions fit, and no control overlaps another.
    void fitAtEveryScale();
    template <typename T>
    T* control(const QString& name) const
    {
        T* found = window_->findChild<T*>(name);
        if (found == nullptr)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(QString::fromLatin1(name)); }
    QLineEdit* textBox(const char* name) const { return control<QLineEdit>(QString::fromLatin1(name)); }
    QRadioButton* symtype(int index) const { return control<QRadioButton>(QStringLiteral("Symtype(%1)").arg(index)); }
    DotCell* cell(int arrayNumber, int index) const
    {
        return control<DotCell>(QStringLiteral("Col%1(%2)").arg(arrayNumber).arg(index));
    }
    void click(QWidget* widget) const { QTest::mouseClick(widget, Qt::LeftButton); }
    // Where a control stands in the window.
    QRect placeOf(const QWidget* widget) const
    {
        return {widget->mapTo(window_.get(), QPoint(0, 0)), widget->size()};
    }
    void typeOffset(const QString& text) const
    {
        QLineEdit* offset = textBox("Offset");
        offset->selectAll();
        QTest::keyClick(offset, Qt::Key_Delete);
        QTest::keyClicks(offset, text);
    }
    // Chooses a 40-byte source and a fresh target and starts at `offset` with width 4.
    QString startPass(const QString& offset = QStringLiteral("5"))
    {
        const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
        const QString targetPath = folder_->filePath(QStringLiteral("out.bin"));
        writeFile(sourcePath, countingBytes(40));
        chooseFiles(sourcePath, targetPath);
        typeOffset(offset);
        click(symtype(0));
        click(button("StartButt"));
        return targetPath;
    }
    void chooseFiles(const QString& source, const QString& target)
    {
        answerer_->fileChoices.push_back(ModalAnswerer::choose(source));
        click(button("Loadfile"));
        answerer_->fileChoices.push_back(ModalAnswerer::choose(target));
        click(button("Savefile"));
    }
    // The bytes the grid shows, column by column in file order, as the pass holds them.
    QByteArray gridHex() const
    {
        return QByteArray::fromStdString(dotmatrix::hexText(window_->pass().displayedColumns()));
    }
    // The colour of a cell as rendered on screen.
    QColor renderedColour(int arrayNumber, int index) const
    {
        const QImage image = window_->grab().toImage();
        const QPoint centre = placeOf(cell(arrayNumber, index)).center();
        return image.pixelColor(centre * image.devicePixelRatio());
    }
    QColor buttonFace() const { return window_->palette().color(QPalette::Button); }
    // Opens the grid's context menu by `open`, notes which entries are
    // enabled, with their shortcuts, and chooses the one that starts with `entry`
    // (or none).
    QStringList chooseFromMenu(const std::function<void()>& open, const QString& entry)
    {
        QStringList enabled;
        QTimer::singleShot(0, window_.get(), [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction* action : menu->actions()) {
                // Entries are read as shown: an access key's & is no part of the words.
                const QString shown = QString(action->text()).remove(u'&');
                if (action->isEnabled() && !action->isSeparator())
                    enabled << shown + u'\t' + action->shortcut().toString();
                if (!entry.isEmpty() && shown.startsWith(entry))
                    menu->setActiveAction(action);
            }
            QTest::keyClick(menu, entry.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
        });
        open();
        // As on a desktop, the window is active again once the menu has closed;
        // the offscreen platform leaves that to the test.
        if (!QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }))
            qFatal("the menu stays open");
        QApplication::setActiveWindow(window_.get());
        return enabled;
    }
    // Calls `act` with the progress box once one shows, from a timer that
    // runs while the window waits for a copy.
    void onProgressBox(std::function<void(QProgressDialog*)> act)
    {
        auto* watch = new QTimer(window_.get());
        connect(watch, &QTimer::timeout, watch, [watch, act = std::move(act)] {
            auto* box = qobject_cast<QProgressDialog*>(QApplication::activeWindow());
            for (QWidget* shown : QApplication::topLevelWidgets()) {
                if (auto* progress = qobject_cast<QProgressDialog*>(shown); progress != nullptr && progress->isVisible())
                    box = progress;
            }
            if (box != nullptr) {
                watch->deleteLater();
                watch->stop();
                act(box);
            }
        });
        watch->start(10);
    }
#ifndef _WIN32
    // A pass whose source reads slowly; skips where no FUSE file system can be mounted.
    // With `slowTarget`, the target is the FUSE file system's too, and each
    // sync of it takes 1.5 s.
    std::unique_ptr<dotmatrix::testing::MountedFolder> slowSource(QString& targetPath, int delayMs = 40,
                                                                  qint64 bytes = 4 << 20, bool slowTarget = false)
    {
        auto slow = std::make_unique<dotmatrix::testing::MountedFolder>(
            dotmatrix::testing::MountedFolder::slow(bytes, delayMs, false, slowTarget ? 1500 : 0));
        if (slow->mounted()) {
            targetPath = slowTarget ? QString::fromStdString(slow->path("target"))
                                    : folder_->filePath(QStringLiteral("out.bin"));
            chooseFiles(QString::fromStdString(slow->path("image")), targetPath);
        }
        return slow;
    }
    // Closes the window as its title bar's close button does.
    void closeByTitleBar()
    {
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(window_->windowHandle());
    }
#endif

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<Form1> window_;
    std::unique_ptr<ModalAnswerer> answerer_;
};

QtMessageHandler qtHandler = nullptr;

void Form1Test::initTestCase()
{
    // The offscreen platform warns about every fixed-size window it shows.
    qtHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (!text.contains(QStringLiteral("propagateSizeHints")))
            qtHandler(type, context, text);
    });
}

void Form1Test::init()
{
    folder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(folder_->isValid());
    // Every test starts as a first start: what earlier windows remembered is elsewhere.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_->filePath(QStringLiteral("settings")));
    window_ = std::make_unique<Form1>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    answerer_ = std::make_unique<ModalAnswerer>();
}

void Form1Test::cleanup()
{
    answerer_.reset();
    window_.reset();
    folder_.reset();
}

void Form1Test::opensWithTheInitialState()
{
    QCOMPARE(window_->windowTitle(), QStringLiteral("Dot matrix character generator by Quillmorn"));
    QCOMPARE(window_->windowIcon().availableSizes().size(), 7);
    QCOMPARE(textBox("sfile")->text(), QString());
    QCOMPARE(textBox("ttext")->text(), QString());
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("0000"));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("0000"));
    QVERIFY(textBox("Offset")->alignment() & Qt::AlignRight);
    QVERIFY(textBox("curoff")->alignment() & Qt::AlignRight);
    const char* captions[][2] = {{"Loadfile", "Source file..."}, {"Savefile", "Target file..."},
                                 {"StartButt", "Start processing"}, {"BackButt", "< Previous"},
                                 {"FwButt", "Next >"}, {"SkipButt", "Skip the rest"},
                                 {"Stepback", "-1"}, {"Stepfwd", "+1"}, {"OverviewButt", "Overview..."}};
    // Each with an access key that leaves its words as they are.
    for (const auto& [name, caption] : captions) {
        QCOMPARE(button(name)->text().remove(u'&'), QString::fromLatin1(caption));
        QVERIFY(button(name)->isEnabled());
    }
    QCOMPARE(control<QLabel>(QStringLiteral("Label1"))->text(), QStringLiteral("Starting &offset (dec.):"));
    QCOMPARE(control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("&Current offset (dec.):"));
    QCOMPARE(control<QGroupBox>(QStringLiteral("Csize"))->title(), QStringLiteral("Character size: "));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(symtype(i)->text().remove(u'&'), QStringLiteral("%1x7").arg(i + 4));
        QCOMPARE(symtype(i)->isChecked(), i == 1);
    }
    for (int n = 1; n <= 7; ++n) {
        for (int index = 0; index < 8; ++index) {
            // The grid's one Tab stop starts at the top of the rightmost line.
            QCOMPARE(cell(n, index)->focusPolicy(), n == 7 && index == 7 ? Qt::TabFocus : Qt::NoFocus);
            QCOMPARE(renderedColour(n, index), buttonFace());
        }
    }

    QStringList tabOrder;
    QWidget* widget = button("Loadfile");
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->window() == window_.get())
            tabOrder << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != button("Loadfile"));
    const QStringList expected{"Loadfile", "sfile",  "ttext",   "Savefile", "Offset",   "Symtype(1)", "OtherFormat", "StartButt",
                               "BackButt", "FwButt", "SkipButt", "Col7(7)", "Stepback", "Stepfwd",    "OverviewButt",
                               "curoff"};
    QCOMPARE(tabOrder, expected);
}

void Form1Test::controlsStandWhereTheyAreDrawn()
{
    // Twips at 15 to the pixel.
    QCOMPARE(window_->size(), QSize(469, 306));
    QCOMPARE(button("Loadfile")->geometry(), QRect(24, 16, 81, 17));
    QCOMPARE(textBox("sfile")->geometry(), QRect(120, 16, 337, 19));
    QCOMPARE(button("FwButt")->geometry(), QRect(384, 272, 73, 25));
    QCOMPARE(symtype(3)->geometry(), QRect(208, 24, 41, 17));
    QCOMPARE(button("OverviewButt")->geometry(), QRect(32, 232, 105, 25));
    QCOMPARE(placeOf(cell(1, 7)), QRect(296, 64, 17, 25));
    QCOMPARE(placeOf(cell(7, 0)), QRect(440, 232, 17, 25));
    QVERIFY(cell(1, 7)->geometry().left() < cell(2, 7)->geometry().left());
    QVERIFY(cell(1, 7)->geometry().top() < cell(1, 6)->geometry().top());

    window_->resize(800, 600);
    QCOMPARE(window_->size(), QSize(469, 306));
    QCOMPARE(placeOf(cell(7, 0)), QRect(440, 232, 17, 25));
}

void Form1Test::onlyOffsetTakesTyping()
{
    for (const char* name : {"sfile", "ttext", "curoff"}) {
        const QString before = textBox(name)->text();
        QTest::keyClicks(textBox(name), QStringLiteral("12ab"));
        QCOMPARE(textBox(name)->text(), before);
    }
    typeOffset(QStringLiteral("x1 y"));
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("x1 y"));
}

void Form1Test::wholePassByClicksFollowsTheContentRule()
{
    const QByteArray source = countingBytes(40);
    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    const QString targetPath = folder_->filePath(QStringLiteral("patched.bin"));
    writeFile(sourcePath, source);
    chooseFiles(sourcePath, targetPath);
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(sourcePath));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(targetPath));

    typeOffset(QStringLiteral("5"));
    click(symtype(0));
    click(button("StartButt"));
    QVERIFY(!button("StartButt")->isEnabled());
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("5"));
    QCOMPARE(readFile(targetPath), source.left(4));

    click(cell(7, 0));  // byte 5 loses bit 0
    click(button("FwButt"));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("9"));
    click(button("BackButt"));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("5"));
    QCOMPARE(renderedColour(7, 2), QColor(255, 0, 0));  // 4 read back from the target
    QCOMPARE(renderedColour(7, 0), buttonFace());

    click(button("Stepfwd"));
    click(cell(6, 7));  // byte 7 gains bit 7
    click(button("Stepback"));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("5"));
    QByteArray expected = source.left(12);
    expected[4] = 4;
    expected[6] = static_cast<char>(0x87);
    QCOMPARE(readFile(targetPath), expected);

    click(symtype(3));  // writes 5..8 as captured from the source, shows 5..11
    click(cell(1, 3));  // byte 11 loses bit 3
    click(button("FwButt"));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("12"));
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages, QStringList{QStringLiteral("Completed")});
    QVERIFY(button("StartButt")->isEnabled());

    expected = source;
    expected[10] = 3;
    QCOMPARE(readFile(targetPath), expected);
}

void Form1Test::cellsShowColumnsRightToLeftWithBitSevenOnTop()
{
    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    writeFile(sourcePath, QByteArray::fromHex("010000008000FF"));
    chooseFiles(sourcePath, folder_->filePath(QStringLiteral("out.rom")));
    typeOffset(QStringLiteral("1"));
    click(symtype(3));
    click(button("StartButt"));

    const QColor red(255, 0, 0);
    for (int index = 0; index < 8; ++index) {
        QCOMPARE(renderedColour(7, index), index == 0 ? red : buttonFace());
        QCOMPARE(renderedColour(3, index), index == 7 ? red : buttonFace());
        QCOMPARE(renderedColour(1, index), red);
        QCOMPARE(renderedColour(5, index), buttonFace());
    }

    click(symtype(0));
    QCOMPARE(window_->pass().state().CharWidth, 4);
    for (int index = 0; index < 8; ++index) {
        QCOMPARE(renderedColour(7, index), index == 0 ? red : buttonFace());
        QCOMPARE(renderedColour(3, index), index == 7 ? red : buttonFace());  // left over from width 7
        QCOMPARE(renderedColour(1, index), red);
    }
    click(button("Stepfwd"));  // now 0x00 0x00 0x00 0x80
    QCOMPARE(renderedColour(4, 7), red);
    QCOMPARE(renderedColour(7, 0), buttonFace());
    QCOMPARE(renderedColour(1, 0), red);
}

void Form1Test::clicksOutsideTheCharacterAreIgnored()
{
    click(cell(4, 4));
    QCOMPARE(renderedColour(4, 4), buttonFace());
    QCOMPARE(window_->pass().state().DotGrid.columns(), 0);

    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    const QString targetPath = folder_->filePath(QStringLiteral("out.rom"));
    writeFile(sourcePath, QByteArray(8, '\0'));
    chooseFiles(sourcePath, targetPath);
    typeOffset(QStringLiteral("1"));
    click(symtype(0));
    click(button("StartButt"));
    click(cell(1, 0));
    click(cell(3, 7));
    QCOMPARE(renderedColour(1, 0), buttonFace());
    click(cell(4, 0));  // bit 0 of the byte at position 4
    click(cell(7, 7));  // bit 7 of the byte at position 1
    QCOMPARE(renderedColour(4, 0), QColor(255, 0, 0));
    click(button("FwButt"));
    QCOMPARE(readFile(targetPath), QByteArray::fromHex("80000001"));
}

void Form1Test::clickOnTheSelectedSizeDoesNothing()
{
    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    const QString targetPath = folder_->filePath(QStringLiteral("out.rom"));
    writeFile(sourcePath, countingBytes(10));
    chooseFiles(sourcePath, targetPath);
    typeOffset(QStringLiteral("1"));
    click(button("StartButt"));
    click(cell(7, 7));
    click(symtype(1));
    QCOMPARE(readFile(targetPath), QByteArray());
    QCOMPARE(renderedColour(7, 7), QColor(255, 0, 0));

    answerer_->answers.push_back(QMessageBox::Yes);  // the dot on display is dropped
    click(button("SkipButt"));
    click(symtype(2));  // outside a pass only the selection changes
    QVERIFY(symtype(2)->isChecked());
    QCOMPARE(window_->pass().state().CharWidth, 5);
    QCOMPARE(readFile(targetPath), countingBytes(10));
}

void Form1Test::refusedStartAndFileErrorLeaveTheWindowUsable()
{
    click(button("StartButt"));
    QCOMPARE(answerer_->messages.size(), 1);
    QVERIFY(answerer_->messages[0].contains(QStringLiteral("below 1")));
    QVERIFY(button("StartButt")->isEnabled());

    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    const QString targetPath = folder_->filePath(QStringLiteral("out.rom"));
    writeFile(sourcePath, countingBytes(10));
    chooseFiles(sourcePath, targetPath);
    typeOffset(QStringLiteral("1"));
#ifndef _WIN32
    {
        const dotmatrix::testing::FileSizeLimit fullAfterThreeBytes(3);
        click(button("StartButt"));
        QVERIFY(!button("StartButt")->isEnabled());
        click(button("FwButt"));
    }
    QCOMPARE(answerer_->messages.size(), 2);
    QVERIFY(answerer_->messages[1].contains(QStringLiteral("target file \"%1\"").arg(QDir::toNativeSeparators(targetPath))));
    QVERIFY(button("StartButt")->isEnabled());
    QVERIFY(!window_->pass().isOpen());
#endif

    click(button("StartButt"));
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QCOMPARE(readFile(targetPath), countingBytes(10));
    for (const QString& title : answerer_->titles)
        QCOMPARE(title, QStringLiteral("Dot matrix character generator"));
}

void Form1Test::dialogsRememberTheLastChoiceAndCancelChangesNothing()
{
    const QString first = folder_->filePath(QStringLiteral("first.rom"));
    writeFile(first, countingBytes(4));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(first));
    click(button("Loadfile"));
    QCOMPARE(answerer_->filters.last(), QStringLiteral("All Files (*.*)"));
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(first));

    answerer_->fileChoices.push_back(ModalAnswerer::cancel());
    click(button("Loadfile"));
    QCOMPARE(answerer_->proposed.last(), first);
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(first));

    // The target dialog proposes the source; taking it is asked about, and
    // No (here Escape) keeps the earlier target.
    auto acceptProposed = [](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->accept(); };
    answerer_->fileChoices.push_back(acceptProposed);
    click(button("Savefile"));
    QCOMPARE(answerer_->proposed.last(), first);
    QCOMPARE(answerer_->filters.last(), QStringLiteral("Firmware Files (*.rom)|Firmware Files (*.bin)"));
    QCOMPARE(answerer_->selectedFilters.last(), QStringLiteral("Firmware Files (*.bin)"));
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("is the source file")));
    QCOMPARE(textBox("ttext")->text(), QString());
    answerer_->fileChoices.push_back(acceptProposed);
    answerer_->answers.push_back(QMessageBox::Yes);
    click(button("Savefile"));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(first));
    QCOMPARE(answerer_->messages.size(), 2);

    // Another name of the source is the source too.
    const QString link = folder_->filePath(QStringLiteral("link.rom"));
#ifdef _WIN32
    // There QFile::link makes a shortcut, a file of its own.
    std::filesystem::create_hard_link(first.toStdWString(), link.toStdWString());
#else
    QVERIFY(QFile::link(first, link));
#endif
    answerer_->fileChoices.push_back(ModalAnswerer::choose(link));
    answerer_->answers.push_back(QMessageBox::No);
    click(button("Savefile"));
    QCOMPARE(answerer_->messages.size(), 3);
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(first));

    // No suffix is added and no question asked.
    const QString bare = folder_->filePath(QStringLiteral("bare"));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(bare));
    click(button("Savefile"));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(bare));
    QCOMPARE(answerer_->messages.size(), 3);
    QVERIFY(!QFile::exists(bare));

    answerer_->fileChoices.push_back(ModalAnswerer::cancel());
    click(button("Savefile"));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(bare));

    // The other way round: the target chosen as the source is asked about too.
    writeFile(bare, countingBytes(4));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(bare));
    answerer_->answers.push_back(QMessageBox::No);
    click(button("Loadfile"));
    QCOMPARE(answerer_->messages.size(), 4);
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("is the target file")));
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(first));
}

void Form1Test::pathsAreKeptAsTheDialogReturnsThem()
{
    const QString source = folder_->filePath(QStringLiteral("my fönt ÄÖ.rom"));
    const QString target = folder_->filePath(QStringLiteral("zielé datei.bin"));
    writeFile(source, countingBytes(12));
    chooseFiles(source, target);
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(source));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(target));
    typeOffset(QStringLiteral("3"));
    click(button("StartButt"));
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages, QStringList{QStringLiteral("Completed")});
    QCOMPARE(readFile(target), countingBytes(12));
}

void Form1Test::tooltipsLinkCellsToBytes()
{
    QCOMPARE(window_->cellToolTip(7, 7), QString());
    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    QByteArray bytes(20, '\0');
    bytes[9] = static_cast<char>(0xA5);
    bytes[10] = 0x01;
    writeFile(sourcePath, bytes);
    chooseFiles(sourcePath, folder_->filePath(QStringLiteral("out.rom")));
    typeOffset(QStringLiteral("10"));
    click(symtype(0));
    click(button("StartButt"));
    QCOMPARE(window_->cellToolTip(7, 7),
             QStringLiteral("Position 10, file offset 0x00000009\nByte 0xA5 = 1010 0101\nBit 7"));
    QCOMPARE(window_->cellToolTip(6, 0),
             QStringLiteral("Position 11, file offset 0x0000000A\nByte 0x01 = 0000 0001\nBit 0"));
    QCOMPARE(window_->cellToolTip(3, 0), QString());
    click(cell(6, 7));
    QVERIFY(window_->cellToolTip(6, 2).contains(QStringLiteral("Byte 0x81 = 1000 0001")));
}

void Form1Test::randomClicksNeverLeaveStartDisabledWithoutAPass()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    std::mt19937 random(seed);
    const QString sources[] = {folder_->filePath(QStringLiteral("a.rom")), folder_->filePath(QStringLiteral("b.rom"))};
    writeFile(sources[0], countingBytes(60));
    writeFile(sources[1], QByteArray(3, 'x'));
    const QString targets[] = {folder_->filePath(QStringLiteral("t.bin")), sources[1], QStringLiteral("/dev/full")};
    const QString offsets[] = {QStringLiteral("1"), QStringLiteral("7"), QStringLiteral("0000"), QStringLiteral("abc"),
                               QStringLiteral("58"), QStringLiteral("300"), QString()};
    const char* buttons[] = {"StartButt", "FwButt", "BackButt", "Stepfwd", "Stepback", "SkipButt"};

    for (int step = 0; step < 1200; ++step) {
        const unsigned action = random() % 100;
        if (action < 3) {
            answerer_->fileChoices.push_back(random() % 4 == 0 ? ModalAnswerer::cancel()
                                                               : ModalAnswerer::choose(sources[random() % 2]));
            click(button("Loadfile"));
        } else if (action < 6) {
            answerer_->fileChoices.push_back(random() % 4 == 0 ? ModalAnswerer::cancel()
                                                               : ModalAnswerer::choose(targets[random() % 3]));
            click(button("Savefile"));
        } else if (action < 10) {
            typeOffset(offsets[random() % std::size(offsets)]);
        } else if (action < 16) {
            click(symtype(static_cast<int>(random() % 4)));
        } else if (action < 50) {
            click(cell(1 + static_cast<int>(random() % 7), static_cast<int>(random() % 8)));
        } else {
            click(button(buttons[random() % std::size(buttons)]));
        }
        const bool open = window_->pass().isOpen();
        QVERIFY2(button("StartButt")->isEnabled() != open,
                 qPrintable(QStringLiteral("seed %1, step %2").arg(seed).arg(step)));
        if (open) {
            QVERIFY2(symtype(window_->pass().state().CharWidth - 4)->isChecked(),
                     qPrintable(QStringLiteral("seed %1, step %2").arg(seed).arg(step)));
        }
    }
}

void Form1Test::closingDuringAPassAsksFirst()
{
    QVERIFY(window_->close());  // no pass: no question
    QCOMPARE(answerer_->messages.size(), 0);
    window_->show();

    const QString targetPath = startPass();
    answerer_->answers.push_back(QMessageBox::Cancel);
    QVERIFY(!window_->close());
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("complete only in front of position 5")));
    QVERIFY(!answerer_->messages.last().contains(QStringLiteral("dots")));
    click(cell(7, 0));
    QVERIFY(!window_->close());  // Escape
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("changed dots on display are not written")));
    QVERIFY(window_->isVisible());
    QVERIFY(window_->pass().isOpen());

    answerer_->answers.push_back(QMessageBox::Close);
    QVERIFY(window_->close());
    QCOMPARE(answerer_->messages.size(), 3);
    QCOMPARE(readFile(targetPath), countingBytes(4));
}

void Form1Test::skipAsksBeforeReplacingChanges()
{
    const QString targetPath = startPass();
    click(cell(7, 0));
    click(button("SkipButt"));  // Escape answers No
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("changed dots on display")));
    QVERIFY(window_->pass().isOpen());
    QCOMPARE(readFile(targetPath), countingBytes(4));
    answerer_->answers.push_back(QMessageBox::No);
    click(button("SkipButt"));
    QVERIFY(window_->pass().isOpen());
    QCOMPARE(renderedColour(7, 0), buttonFace());  // byte 5 still without bit 0

    answerer_->answers.push_back(QMessageBox::Yes);
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.size(), 4);
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QCOMPARE(readFile(targetPath), countingBytes(40));

    click(button("StartButt"));  // nothing changed: no question
    click(button("FwButt"));
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.size(), 5);
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
}

void Form1Test::filesStayDuringAPass()
{
    startPass();
    const QString other = folder_->filePath(QStringLiteral("other.rom"));
    writeFile(other, countingBytes(3));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(other));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(other));
    click(button("Loadfile"));
    click(button("Savefile"));
    QCOMPARE(answerer_->fileChoices.size(), 2U);  // no dialog was opened
    QCOMPARE(answerer_->messages.size(), 2);
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("once \"Skip the rest\" has ended the pass")));
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(folder_->filePath(QStringLiteral("font.rom"))));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(folder_->filePath(QStringLiteral("out.bin"))));
    QVERIFY(window_->pass().isOpen());
}

#ifndef _WIN32
// Position p of the slow source holds p & 0xFF.
QByteArray slowBytes(qint64 first, qint64 last)
{
    QByteArray bytes;
    for (qint64 p = first; p <= last; ++p)
        bytes.append(static_cast<char>(p & 0xFF));
    return bytes;
}

void Form1Test::copiesKeepTheWindowAliveAndDropInput()
{
    QString targetPath;
    const auto slow = slowSource(targetPath);
    if (!slow->mounted())
        QSKIP(slow->whyNot().c_str());
    typeOffset(QStringLiteral("3000000"));
    button("StartButt")->setFocus();

    // A timer stands for the desktop's ping; at its fifth tick the user clicks
    // a dot and "Next >" and presses Return twice, all during the copy.
    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer ping;
    connect(&ping, &QTimer::timeout, this, [&, this] {
        const qint64 now = clock.elapsed();
        if (lastTick >= 0)
            longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        if (++ticks == 5) {
            click(cell(7, 7));
            click(button("FwButt"));
            // The controls are unavailable: keys go to the window.
            QWidget* focus = window_->focusWidget() != nullptr ? window_->focusWidget() : window_.get();
            QTest::keyClick(focus, Qt::Key_Return);
            QTest::keyClick(focus, Qt::Key_Return);
        }
    });
    clock.start();
    ping.start(20);
    QTest::keyClick(button("StartButt"), Qt::Key_Return);
    ping.stop();
    QVERIFY2(clock.elapsed() > 500, "the copy was too quick to tell");
    QVERIFY2(ticks >= 5 && longestGap < 300, qPrintable(QStringLiteral("longest gap %1 ms").arg(longestGap)));
    QCOMPARE(answerer_->messages.size(), 0);
    QVERIFY(window_->pass().isOpen());
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("3000000"));
    QCOMPARE(window_->pass().state().CurOffset, dotmatrix::Position(3000000));
    QCOMPARE(window_->focusWidget(), button("FwButt"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(dotmatrix::testing::gridBytes(window_->pass().state().DotGrid).data()), 4),
             slowBytes(3000000, 3000003));
    QCOMPARE(readFile(targetPath), slowBytes(1, 2999999));
}

void Form1Test::longCopiesShowProgressAndCancel()
{
    QString targetPath;
    const auto slow = slowSource(targetPath, 200);
    if (!slow->mounted())
        QSKIP(slow->whyNot().c_str());

    // The prefix copy: Cancel opens no pass. The box stays, saying so, until
    // the copy has stopped.
    QString shown;
    QElapsedTimer sinceCancel;
    QStringList stopping;
    onProgressBox([&](QProgressDialog* box) {
        shown = box->windowTitle() + u'|' + box->labelText();
        QCOMPARE(QAccessible::queryAccessibleInterface(box->findChild<QProgressBar*>())->text(QAccessible::Name),
                 QStringLiteral("Copy progress"));
        box->findChild<QPushButton*>()->click();
        sinceCancel.start();
        connect(box, &QProgressDialog::destroyed, this, [&] { stopping << QString::number(sinceCancel.elapsed()); });
        stopping << (box->isVisible() ? box->labelText() : QStringLiteral("hidden"));
    });
    typeOffset(QStringLiteral("3000000"));
    button("StartButt")->setFocus();
    click(button("StartButt"));
    QVERIFY2(shown.startsWith(QStringLiteral("Dot matrix character generator|Copying positions 1 to 2999999")),
             qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral(" of 2.9 MiB")), qPrintable(shown));
    QCOMPARE(stopping.size(), 2);
    QVERIFY2(stopping[0].contains(QStringLiteral("Stopping")), qPrintable(stopping[0]));
    QVERIFY2(stopping[1].toInt() < 500, qPrintable(stopping[1] + QStringLiteral(" ms from Cancel to the stop")));
    QCOMPARE(window_->focusWidget(), button("StartButt"));
    QVERIFY(!window_->pass().isOpen());
    QVERIFY(button("StartButt")->isEnabled());
    QCOMPARE(answerer_->messages.size(), 1);
    const QString said = answerer_->messages.last();
    static const QRegularExpression upTo(QStringLiteral("only up to position (\\d+); nothing was written at the "
                                                        "starting offset 3000000"));
    const QRegularExpressionMatch match = upTo.match(said);
    QVERIFY2(match.hasMatch(), qPrintable(said));
    const qint64 reached = match.captured(1).toLongLong();
    QVERIFY(reached > 0 && reached < 2999999);
    QCOMPARE(readFile(targetPath), slowBytes(1, reached));

    // The tail copy: Escape keeps the pass as it was.
    typeOffset(QStringLiteral("1000"));
    click(button("StartButt"));
    QVERIFY(window_->pass().isOpen());
    onProgressBox([](QProgressDialog* box) { QTest::keyClick(box, Qt::Key_Escape); });
    click(button("SkipButt"));
    QVERIFY(window_->pass().isOpen());
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("1000"));
    QVERIFY2(answerer_->messages.last().contains(QStringLiteral("The pass stays open at position 1000")),
             qPrintable(answerer_->messages.last()));
    QVERIFY(!answerer_->messages.contains(QStringLiteral("Completed")));

    // The title bar's close button during the copy asks, also over the
    // progress box; Close stops the copy and closes the window, saying nothing more.
    // While the question is open, it follows the copy.
    const int asked = answerer_->messages.size();
    answerer_->answers.push_back(QMessageBox::Close);
    answerer_->holdMilliseconds = 1500;
    onProgressBox([this](QProgressDialog*) { closeByTitleBar(); });
    click(button("SkipButt"));
    QTRY_VERIFY2(!window_->isVisible(), qPrintable(answerer_->messages.join(u'|')));
    QCOMPARE(answerer_->messages.size(), asked + 1);
    QVERIFY(answerer_->messages.last().startsWith(QStringLiteral("A pass is open.")));
    QVERIFY2(answerer_->answeredTexts.last() != answerer_->messages.last(), qPrintable(answerer_->messages.last()));
}

void Form1Test::nothingActsOnThePassWhileACopyRuns()
{
    QString targetPath;
    const auto slow = slowSource(targetPath, 40, 6 << 20, true);
    if (!slow->mounted())
        QSKIP(slow->whyNot().c_str());
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    platform->setActive(true);
    const auto restore = qScopeGuard([&] { platform->setActive(false); });

    // While a task runs, a screen reader presses every button and switches
    // every option and a dot, again and again; the names of the tasks it saw
    // are kept, and whether every control showed as unavailable.
    QSet<QString> seen;
    bool allUnavailable = true;
    QTimer presser;
    connect(&presser, &QTimer::timeout, this, [&] {
        if (!window_->pass().isBusy())
            return;
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QProgressDialog*>(shown); box != nullptr && box->isVisible())
                seen << box->labelText().section(u' ', 0, 1);
        }
        QList<QWidget*> controls;
        for (QAbstractButton* control : window_->findChildren<QAbstractButton*>()) {
            if (control->window() == window_.get())
                controls << control;
        }
        controls << cell(7, 7);
        for (QWidget* control : controls) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            allUnavailable = allUnavailable && accessible->state().disabled;
            QAccessibleActionInterface* actions = accessible->actionInterface();
            for (const QString& action : actions->actionNames())
                actions->doAction(action);
        }
        // A screen reader's change of the offset's text is refused too.
        if (window_->pass().isBusy())
            QAccessible::queryAccessibleInterface(textBox("Offset"))->setText(QAccessible::Value, QStringLiteral("9"));
    });
    presser.start(100);
    typeOffset(QStringLiteral("3000000"));
    click(symtype(0));
    click(button("StartButt"));
    QCOMPARE(answerer_->messages.size(), 0);
    QCOMPARE(window_->pass().state().CurOffset, dotmatrix::Position(3000000));
    QVERIFY(symtype(0)->isChecked());
    QVERIFY(button("Loadfile")->isEnabled() && !button("StartButt")->isEnabled());
    QCOMPARE(readFile(targetPath), slowBytes(1, 2999999));
    click(button("SkipButt"));
    presser.stop();
    QCOMPARE(answerer_->messages, QStringList{QStringLiteral("Completed")});
    // Nothing was changed: the look for a checksum went on alongside and was not waited for.
    QCOMPARE(seen, (QSet<QString>{QStringLiteral("Copying positions"), QStringLiteral("Writing the"),
                                  QStringLiteral("Checking positions")}));
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("3000000"));
    QVERIFY(allUnavailable);
    QVERIFY(readFile(targetPath) == slowBytes(1, 6 << 20));
    QVERIFY(button("StartButt")->isEnabled() && button("FwButt")->isEnabled());

    // Closing during the sync says what is true, waits for it and says nothing after.
    click(button("StartButt"));
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QProgressDialog*>(shown);
            if (box != nullptr && box->isVisible() && box->labelText().startsWith(QStringLiteral("Writing"))) {
                closer.stop();
                closeByTitleBar();
            }
        }
    });
    closer.start(50);
    answerer_->answers.push_back(QMessageBox::Close);
    click(button("SkipButt"));
    QTRY_VERIFY(!window_->isVisible());
    QCOMPARE(answerer_->messages.size(), 2);
    QVERIFY2(answerer_->messages.last().contains(QStringLiteral("is now being written to the disk")),
             qPrintable(answerer_->messages.last()));
    QVERIFY(!window_->pass().isOpen());
}

#else
void Form1Test::copiesKeepTheWindowAliveAndDropInput()
{
    QSKIP("a slow source needs a FUSE file system");
}

void Form1Test::longCopiesShowProgressAndCancel()
{
    QSKIP("a slow source needs a FUSE file system");
}

void Form1Test::nothingActsOnThePassWhileACopyRuns()
{
    QSKIP("a slow source needs a FUSE file system");
}
#endif

void Form1Test::gridWorksByKeyboard()
{
    const QString targetPath = startPass();  // width 4 at position 5
    const auto key = [this](Qt::Key pressed, int times = 1) {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(window_->focusWidget(), pressed);
    };
    button("SkipButt")->setFocus();
    key(Qt::Key_Tab);
    QCOMPARE(window_->focusWidget(), cell(7, 7));
    key(Qt::Key_Space);          // byte 5, bit 7
    key(Qt::Key_Left, 5);        // stops at the fourth column
    QCOMPARE(window_->focusWidget(), cell(4, 7));
    key(Qt::Key_Down, 9);        // stops at the bottom row
    QCOMPARE(window_->focusWidget(), cell(4, 0));
    key(Qt::Key_Space);          // byte 8, bit 0
    key(Qt::Key_Right);
    key(Qt::Key_Up);
    QCOMPARE(window_->focusWidget(), cell(5, 1));
    key(Qt::Key_End);
    QCOMPARE(window_->focusWidget(), cell(7, 1));
    key(Qt::Key_Space);          // byte 5, bit 1
    key(Qt::Key_Home);
    QCOMPARE(window_->focusWidget(), cell(4, 1));
    key(Qt::Key_Return);         // nothing on the grid
    key(Qt::Key_Tab);
    QCOMPARE(window_->focusWidget(), button("Stepback"));
    click(button("FwButt"));
    QCOMPARE(readFile(targetPath).mid(4), QByteArray::fromHex("87060709"));

    // At width 7 the mark reaches the seventh column; back at 4 it is kept within.
    click(symtype(3));
    button("SkipButt")->setFocus();
    key(Qt::Key_Tab);
    QCOMPARE(window_->focusWidget(), cell(4, 1));
    key(Qt::Key_Left, 5);
    QCOMPARE(window_->focusWidget(), cell(1, 1));
    key(Qt::Key_Space);          // byte 15, bit 1
    click(button("FwButt"));
    QCOMPARE(readFile(targetPath).at(14), '\x0D');
    click(symtype(0));
    QCOMPARE(cell(4, 1)->focusPolicy(), Qt::TabFocus);
    QCOMPARE(cell(1, 1)->focusPolicy(), Qt::NoFocus);
}

void Form1Test::glyphToolsEditTheCharacterWithUndo()
{
    const QString targetPath = startPass();  // 05 06 07 08 at position 5
    const auto key = [this](int pressed, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QTest::keyClick(window_->focusWidget(), static_cast<Qt::Key>(pressed), modifiers);
    };
    const auto focusGrid = [&] {
        // Shortcuts act in the active window, as on a desktop once a dialog has closed.
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        button("SkipButt")->setFocus();
        QTest::keyClick(button("SkipButt"), Qt::Key_Tab);
    };
    const auto onScreen = [this] {
        QByteArray bytes;
        for (int column = 0; column < 4; ++column) {
            int byte = 0;
            for (int bit = 0; bit < 8; ++bit)
                byte |= renderedColour(7 - column, bit) == QColor(255, 0, 0) ? 1 << bit : 0;
            bytes.append(static_cast<char>(byte));
        }
        return bytes.toHex(' ').toUpper();
    };
    const auto rightClick = [this] {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), cell(5, 3)->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(cell(5, 3), &event);
    };

    focusGrid();
    key(Qt::Key_C);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("05 06 07 08"));
    click(button("FwButt"));
    focusGrid();
    key(Qt::Key_V);
    QCOMPARE(onScreen(), QByteArray("05 06 07 08"));
    key(Qt::Key_Up);  // shift up
    QCOMPARE(onScreen(), QByteArray("0A 0C 0E 10"));
    chooseFromMenu(rightClick, QStringLiteral("Invert"));
    QCOMPARE(onScreen(), QByteArray("F5 F3 F1 EF"));
    key(Qt::Key_Z);
    key(Qt::Key_Z);
    QCOMPARE(onScreen(), QByteArray("05 06 07 08"));
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_Y);
    QCOMPARE(onScreen(), QByteArray("F5 F3 F1 EF"));
    const QStringList entries =
        chooseFromMenu([&] { key(Qt::Key_F10, Qt::ShiftModifier); }, QStringLiteral("Undo Invert"));
    QVERIFY2(entries.contains(QStringLiteral("Undo Invert\tCtrl+Z")) && entries.contains(QStringLiteral("Redo\t")) == false
                 && entries.contains(QStringLiteral("Shift left\tCtrl+Left")),
             qPrintable(entries.join(u'|')));
    QCOMPARE(onScreen(), QByteArray("0A 0C 0E 10"));
    key(Qt::Key_Space, Qt::NoModifier);  // the mark's dot, byte 9 bit 7, still switches
    key(Qt::Key_Left);                   // shift left: towards the last byte
    QCOMPARE(onScreen(), QByteArray("00 8A 0C 0E"));

    QGuiApplication::clipboard()->setText(QStringLiteral("0x7E, 0x11, 0x11"));
    key(Qt::Key_V);
    QCOMPARE(answerer_->messages.last(),
             QStringLiteral("The clipboard holds no character of 4 bytes. Paste takes 4 bytes in hex, such as 7E 11 11 7E."));
    QCOMPARE(onScreen(), QByteArray("00 8A 0C 0E"));
    focusGrid();
    QGuiApplication::clipboard()->setText(QStringLiteral("{0x7e,0x11,0x11,0x7e}"));
    key(Qt::Key_V);
    key(Qt::Key_R);  // the character as captured
    QCOMPARE(onScreen(), QByteArray("09 0A 0B 0C"));
    key(Qt::Key_Z);
    key(Qt::Key_Delete, Qt::NoModifier);
    key(Qt::Key_Z);
    QCOMPARE(onScreen(), QByteArray("7E 11 11 7E"));
    click(button("FwButt"));  // the write-back ends the history
    QCOMPARE(readFile(targetPath).mid(4, 8), QByteArray::fromHex("05060708" "7E11117E"));
    focusGrid();
    key(Qt::Key_Z);
    QCOMPARE(onScreen(), QByteArray("0D 0E 0F 10"));

    answerer_->answers.push_back(QMessageBox::Yes);
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    // Outside a pass only the dot order can be chosen.
    QCOMPARE(chooseFromMenu(rightClick, QString()),
             (QStringList{QStringLiteral("Bit 0 on top\t"), QStringLiteral("First byte on the left\t")}));
    QCOMPARE(readFile(targetPath), countingBytes(8) + QByteArray::fromHex("7E11117E") + countingBytes(40).mid(12));
}

void Form1Test::overviewShowsTheGlyphsAndGoesWhereClicked()
{
    using dotmatrix::Position;
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    platform->setActive(true);
    const auto restore = qScopeGuard([&] { platform->setActive(false); });
    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    const QString targetPath = folder_->filePath(QStringLiteral("out.bin"));
    const QByteArray source = countingBytes(200);
    writeFile(sourcePath, source);
    chooseFiles(sourcePath, targetPath);
    typeOffset(QStringLiteral("5"));
    click(symtype(0));

    // Before a pass: the source at width 4, glyphs aligned with the offset, its glyph selected.
    click(button("OverviewButt"));
    dotmatrix::OverviewWindow* overview = window_->overview();
    QVERIFY(overview != nullptr && overview->isVisible());
    QCOMPARE(overview->windowTitle(), QStringLiteral("Overview"));
    dotmatrix::GlyphView* view = overview->view();
    view->viewport()->repaint();
    QTRY_VERIFY(view->upToDate());
    QCOMPARE(view->selected(), Position(5));
    QCOMPARE(view->glyphBytes(Position(5)), QStringLiteral("05 06 07 08"));
    // Drawn as the grid draws: byte 5 = 0000 0101 in the rightmost column, bit 0 at the bottom.
    const QImage shown = view->viewport()->grab().toImage();
    const QRect glyph = view->glyphRect(Position(5));
    const int dot = view->dotSize();
    const auto dotColour = [&](int x, int y) {
        return shown.pixelColor((glyph.topLeft() + QPoint(x * dot + dot / 2, y * dot + dot / 2)) * shown.devicePixelRatio());
    };
    QCOMPARE(dotColour(3, 7), QColor(255, 0, 0));
    QCOMPARE(dotColour(3, 5), QColor(255, 0, 0));
    QVERIFY(dotColour(3, 6) != QColor(255, 0, 0));
    QVERIFY(dotColour(0, 7) != QColor(255, 0, 0));  // byte 8 = 0000 1000
    QCOMPARE(dotColour(0, 4), QColor(255, 0, 0));

    // A click puts the glyph's position into the starting offset; so does a screen reader's press.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->glyphRect(Position(9)).center());
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("9"));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    QAccessibleInterface* glyph13 = nullptr;
    for (int i = 0; i < list->childCount(); ++i) {
        if (list->child(i)->text(QAccessible::Name) == QStringLiteral("Position 13"))
            glyph13 = list->child(i);
    }
    QVERIFY(glyph13 != nullptr);
    QCOMPARE(glyph13->role(), QAccessible::Button);
    QCOMPARE(glyph13->text(QAccessible::Description), QStringLiteral("0D 0E 0F 10"));
    glyph13->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("13"));

    // During a pass: a jump beyond what was written fills the gap as "Next >"
    // would, the edit is written back first, and the overview shows it.
    click(button("StartButt"));
    click(cell(7, 7));  // byte 13 gets bit 7
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->glyphRect(Position(33)).center());
    QCOMPARE(window_->pass().state().CurOffset, Position(33));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("33"));
    QByteArray expected = source.left(32);
    expected[12] = static_cast<char>(0x8D);
    QCOMPARE(readFile(targetPath), expected);
    view->viewport()->repaint();
    QCOMPARE(view->glyphBytes(Position(13)), QStringLiteral("8D 0E 0F 10"));
    // Tinted where the pass wrote back a byte other than the source's; not
    // where another program changed the target since.
#ifndef Q_OS_WIN  // Windows lets no other program write the target during a pass
    {
        QFile other(targetPath);
        QVERIFY(other.open(QIODevice::ReadWrite) && other.seek(21) && other.write("\x17", 1) == 1);
    }
    view->refresh();
    QTRY_COMPARE(view->glyphBytes(Position(21)), QStringLiteral("15 17 17 18"));
#endif
    const QImage tinted = view->viewport()->grab().toImage();
    const auto unlitColour = [&](Position glyphAt) {  // column 1, row 0: unlit in each
        const QPoint at = view->glyphRect(glyphAt).topLeft() + QPoint(dot + dot / 2, dot / 2);
        return tinted.pixelColor(at * tinted.devicePixelRatio());
    };
    QVERIFY(unlitColour(Position(13)) != unlitColour(Position(17)));
    QCOMPARE(unlitColour(Position(21)), unlitColour(Position(17)));  // on Windows, as the source has it
    // By keyboard: back a row and a glyph, Enter: a jump back shows the edit, as "< Previous" does.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Left);
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(window_->pass().state().CurOffset, Position(29));
    for (int up = 0; up < 4; ++up)
        QTest::keyClick(view, Qt::Key_Left);
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(window_->pass().state().CurOffset, Position(13));
    QVERIFY(renderedColour(7, 7) == QColor(255, 0, 0));

    // A wider character and another alignment: the overview follows.
    click(symtype(3));
    view->viewport()->repaint();
    QCOMPARE(view->glyphBytes(view->selected()).size(), QStringLiteral("00 00 00 00 00 00 00").size());
    overview->findChild<QPushButton*>(QStringLiteral("ShiftLater"))->click();
    view->viewport()->repaint();
    QTRY_VERIFY(view->upToDate());
    QCOMPARE(view->glyphBytes(Position(2)), QStringLiteral("02 03 04 05 06 07 08"));

    // "Skip the rest" from position 13 replaces the edit there, having asked.
    answerer_->answers.push_back(QMessageBox::Yes);
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QCOMPARE(readFile(targetPath), source);

    // A source that can't be read says so in the overview, and nowhere else.
    const int said = answerer_->messages.size();
    QVERIFY(QFile::remove(sourcePath));
    view->viewport()->update();
    const auto* status = overview->findChild<QLabel*>(QStringLiteral("OverviewStatus"));
    QTRY_VERIFY2(status->text().startsWith(QStringLiteral("Cannot read the source file \"")
                                            + QDir::toNativeSeparators(sourcePath)),
                 qPrintable(status->text()));
    QCOMPARE(answerer_->messages.size(), said);

    // What the look for a checksum finds shows once it has ended, with no
    // move: an 8 MiB image ending in the CRC-32 of the rest.
    const QString romPath = folder_->filePath(QStringLiteral("large.rom"));
    {
        QByteArray rom(8 << 20, '\0');
        for (qsizetype i = 0; i < rom.size() - 4; ++i)
            rom[i] = static_cast<char>(i * 7);
        dotmatrix::ChecksumState crc;
        crc.add(std::span(reinterpret_cast<const std::uint8_t*>(rom.constData()), static_cast<std::size_t>(rom.size() - 4)));
        const std::uint32_t value = crc.value(dotmatrix::ChecksumKind::Crc32);
        for (int b = 0; b < 4; ++b)
            rom[rom.size() - 4 + b] = static_cast<char>(value >> (8 * b));
        writeFile(romPath, rom);
    }
    chooseFiles(romPath, folder_->filePath(QStringLiteral("large.bin")));
    typeOffset(QStringLiteral("1"));
    click(button("StartButt"));
    const auto* line = overview->findChild<QLabel*>(QStringLiteral("ChecksumLine"));
    QTRY_VERIFY2(line->text().startsWith(QStringLiteral("The source ends with a CRC-32")), qPrintable(line->text()));
    QCOMPARE(textBox("curoff")->toolTip(), line->text());
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    window_->close();
    QVERIFY(!overview->isVisible());
}

void Form1Test::screenReadersGetNamesStatesAndActions()
{
    // As when a screen reader is running: the cells whose checked state is
    // said to change are recorded.
    static QList<QObject*> changed;
    changed.clear();
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    platform->setActive(true);
    const auto previous = QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
        if (event->type() == QAccessible::StateChanged
            && static_cast<QAccessibleStateChangeEvent*>(event)->changedStates().checked)
            changed.append(event->object());
    });
    const auto restore = qScopeGuard([&] {
        QAccessible::installUpdateHandler(previous);
        platform->setActive(false);
    });
    const auto name = [](QObject* object) {
        return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
    };
    QCOMPARE(name(textBox("sfile")), QStringLiteral("Source file"));
    QCOMPARE(name(textBox("ttext")), QStringLiteral("Target file"));
    QCOMPARE(name(textBox("Offset")), QStringLiteral("Starting offset (dec.):"));
    QCOMPARE(name(textBox("curoff")), QStringLiteral("Current offset (dec.):"));
    QCOMPARE(name(button("FwButt")), QStringLiteral("Next >"));

    startPass();  // byte 5 = 0000 0101 in the rightmost line
    QAccessibleInterface* top = QAccessible::queryAccessibleInterface(cell(7, 7));
    QAccessibleInterface* bottom = QAccessible::queryAccessibleInterface(cell(7, 0));
    QCOMPARE(top->role(), QAccessible::CheckBox);
    // Columns are counted from the left as shown: the first byte is the fourth.
    QCOMPARE(top->text(QAccessible::Name), QStringLiteral("Column 4, bit 7 (top): unlit"));
    QCOMPARE(bottom->text(QAccessible::Name), QStringLiteral("Column 4, bit 0 (bottom): lit"));
    QVERIFY(bottom->state().checked && bottom->state().checkable && !top->state().checked);
    QCOMPARE(top->text(QAccessible::Description), window_->cellToolTip(7, 7));
    QVERIFY(QAccessible::queryAccessibleInterface(cell(1, 0))->state().disabled);  // beyond width 4

    changed.clear();
    QAccessibleActionInterface* action = top->actionInterface();
    QVERIFY(action != nullptr && action->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    action->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(top->state().checked);
    QCOMPARE(top->text(QAccessible::Name), QStringLiteral("Column 4, bit 7 (top): lit"));
    click(cell(7, 0));
    QCOMPARE(changed, (QList<QObject*>{cell(7, 7), cell(7, 0)}));
    click(button("FwButt"));
    QCOMPARE(readFile(folder_->filePath(QStringLiteral("out.bin"))).mid(4, 1), QByteArray::fromHex("84"));
}

void Form1Test::windowFollowsScreenScale()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2)
        QSKIP("the platform shows one screen only");
    const QSize size = window_->size();
    for (QScreen* screen : {screens[1], screens[0]}) {
        window_->windowHandle()->setScreen(screen);
        window_->move(screen->availableGeometry().topLeft() + QPoint(20, 20));
        QTRY_COMPARE(window_->screen(), screen);
        QCOMPARE(window_->devicePixelRatio(), screen->devicePixelRatio());
        QTRY_COMPARE(window_->size(), size);  // in device-independent pixels
        QTRY_VERIFY2(screen->availableGeometry().contains(window_->frameGeometry()),
                     qPrintable(QStringLiteral("%1,%2 %3x%4")
                                    .arg(window_->x())
                                    .arg(window_->y())
                                    .arg(window_->width())
                                    .arg(window_->height())));
    }
}

void Form1Test::returnPressesTheFocusedButton()
{
    const QString targetPath = startPass();
    const char* moves[][2] = {{"FwButt", "9"}, {"BackButt", "5"}, {"Stepfwd", "6"}, {"Stepback", "5"}};
    for (const auto& [name, offset] : moves) {
        button(name)->setFocus();
        QTest::keyClick(button(name), Qt::Key_Return);
        QCOMPARE(textBox("curoff")->text(), QString::fromLatin1(offset));
    }
    QTest::keyClick(button("FwButt"), Qt::Key_Enter);
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("9"));
    QTest::keyClick(button("SkipButt"), Qt::Key_Return);
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QTest::keyClick(button("StartButt"), Qt::Key_Return);
    QVERIFY(window_->pass().isOpen());
    QTest::keyClick(textBox("Offset"), Qt::Key_Return);  // nothing
    QCOMPARE(answerer_->messages.size(), 1);
    QTest::keyClick(button("SkipButt"), Qt::Key_Return);

    // The file buttons open their dialogs.
    answerer_->fileChoices.push_back(ModalAnswerer::cancel());
    answerer_->fileChoices.push_back(ModalAnswerer::cancel());
    QTest::keyClick(button("Loadfile"), Qt::Key_Return);
    QTest::keyClick(button("Savefile"), Qt::Key_Return);
    QCOMPARE(answerer_->proposed.size(), 4);
    QCOMPARE(readFile(targetPath), countingBytes(40));
}

void Form1Test::paletteAndThemeChangesShowAtOnce()
{
    startPass();  // byte 5: bits 0 and 2 lit
    const QPalette original = QApplication::palette();
    QPalette changed = original;
    const QColor face(0x33, 0x66, 0x99);
    changed.setColor(QPalette::Button, face);
    QApplication::setPalette(changed);  // delivered by the event loop
    QTRY_COMPARE(renderedColour(7, 1), face);
    QCOMPARE(renderedColour(7, 0), QColor(255, 0, 0));
    QCOMPARE(renderedColour(1, 5), face);  // never painted
    for (const char* name : {"sfile", "ttext", "curoff"})
        QCOMPARE(textBox(name)->palette().color(QPalette::Base), face);

    QApplication::setStyle(QStringLiteral("Windows"));
    QTRY_COMPARE(renderedColour(7, 1), window_->palette().color(QPalette::Button));
    QCOMPARE(renderedColour(7, 2), QColor(255, 0, 0));
    QCOMPARE(textBox("curoff")->palette().color(QPalette::Base), window_->palette().color(QPalette::Button));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(original);
    QTRY_COMPARE(renderedColour(7, 1), original.color(QPalette::Button));
    QCOMPARE(renderedColour(7, 2), QColor(255, 0, 0));
    QCOMPARE(textBox("sfile")->palette().color(QPalette::Base), original.color(QPalette::Button));
}

void Form1Test::captionsFitAtEveryScale()
{
    // At the desktop's usual font, then at 12 and 16 pt, where the layout grows.
    const QFont usual = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(usual); });
    QFont desktop = usual;
    for (const double points : {0.0, 12.0, 16.0}) {
        if (points > 0) {
            desktop.setPointSizeF(points);
            QApplication::setFont(desktop);
            const double grown = points / 9.0;
            QCOMPARE(window_->layoutScale(), grown);
            QCOMPARE(window_->font().pointSizeF(), 7.5 * grown);
            QCOMPARE(window_->size(), QSize(qRound(7032 * grown / 15), qRound(4584 * grown / 15)));
        }
        fitAtEveryScale();
        if (QTest::currentTestFailed())
            return;
    }
}

void Form1Test::fitAtEveryScale()
{
    QStyle* style = window_->style();
    const QList<QWidget*> controls = window_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* control : controls) {
        for (QWidget* other : controls) {
            // Cells are drawn a twelfth of their height taller than their spacing.
            const bool cells = qobject_cast<DotCell*>(control) != nullptr && qobject_cast<DotCell*>(other) != nullptr;
            QVERIFY2(control == other || cells || !control->geometry().intersects(other->geometry()),
                     qPrintable(control->objectName() + QStringLiteral(" overlaps ") + other->objectName()));
        }
    }
    for (const double scale : {1.0, 1.25, 1.5, 2.0}) {
        for (QWidget* control : window_->findChildren<QWidget*>()) {
            QString text;
            int chrome = 0;
            if (auto* caption = qobject_cast<QLabel*>(control)) {
                text = caption->text();
            } else if (auto* option = qobject_cast<QRadioButton*>(control)) {
                text = option->text();
                chrome = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, option)
                         + style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, option);
            } else if (auto* push = qobject_cast<QPushButton*>(control)) {
                text = push->text();
                chrome = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push)
                         + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, push);
            } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
                text = frame->title();
                chrome = 2 * style->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, frame);
            } else if (auto* box = qobject_cast<QLineEdit*>(control);
                       box != nullptr && (box->objectName() == u"Offset" || box->objectName() == u"curoff")) {
                // Positions of ten digits; the box keeps 2 pixels each side and one for the cursor.
                text = QStringLiteral("2147483647");
                QStyleOptionFrame panel;
                panel.initFrom(box);
                panel.rect = box->rect();
                panel.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, box);
                chrome = box->width() - style->subElementRect(QStyle::SE_LineEditContents, &panel, box).width() + 5;
            } else {
                continue;
            }
            text.remove(u'&');  // an access key's mark is drawn as an underline, taking no room
            QFont font = control->font();
            font.setPointSizeF(font.pointSizeF() * scale);
            // Wine has none of Windows' fonts: wider stand-ins get a little room.
            const double slack = dotmatrix::testing::underWine() ? 1.03 : 1.0;
            const double needed = QFontMetricsF(font).horizontalAdvance(text) / slack + chrome * scale;
            QVERIFY2(needed <= control->width() * scale,
                     qPrintable(QStringLiteral("\"%1\" at %2: needs %3 px, has %4")
                                    .arg(text)
                                    .arg(scale)
                                    .arg(needed)
                                    .arg(control->width() * scale)));
        }
    }
}

void Form1Test::boxesShowTheirWholeTitle()
{
    startPass();
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QFont title = window_->font();
    title.setBold(true);
    QVERIFY2(answerer_->widths.last() >= QFontMetrics(title).horizontalAdvance(answerer_->titles.last()) + 100,
             qPrintable(QString::number(answerer_->widths.last())));
}

QTEST_MAIN(Form1Test)
void Form1Test::otherFormatsEditInTheirOwnShape()
{
    // A font of rows 8 wide and 16 tall, bit 7 on the left, as PC video BIOSes keep theirs.
    QByteArray model(4096, 0);
    std::mt19937 random(36);
    for (char& byte : model)
        byte = static_cast<char>(random());
    const QString sourcePath = folder_->filePath(QStringLiteral("vga.rom"));
    const QString targetPath = folder_->filePath(QStringLiteral("out.rom"));
    writeFile(sourcePath, model);
    const QByteArray source = model;
    chooseFiles(sourcePath, targetPath);
    answerer_->dialogs.push_back([](QDialog* dialog) {
        dialog->findChild<QComboBox*>(QStringLiteral("FormatLines"))->setCurrentIndex(1);
        dialog->findChild<QSpinBox*>(QStringLiteral("FormatWidth"))->setValue(8);
        dialog->findChild<QSpinBox*>(QStringLiteral("FormatHeight"))->setValue(16);
        dialog->accept();
    });
    click(button("OtherFormat"));
    QCOMPARE(answerer_->titles.last(), QString::fromLatin1(dotmatrix::kApplicationName));
    QCOMPARE(control<QLabel>(QStringLiteral("FormatWords"))->text(),
             QStringLiteral("Format: 8x16, bytes as rows, bit 7 on the left"));
    QVERIFY(button("OtherFormat")->toolTip().endsWith(QStringLiteral("\nFormat: 8x16, bytes as rows, bit 7 on the left")));
    for (int i = 0; i < 4; ++i)
        QVERIFY(!symtype(i)->isChecked());
    // 8 x 16 cells; the window grows, and the buttons below stay clear of them.
    const auto dot = [this](int x, int y) { return control<DotCell>(QStringLiteral("Dot(%1,%2)").arg(x).arg(y)); };
    QVERIFY(cell(1, 7)->isHidden());
    QVERIFY(dot(7, 15)->isVisible());
    QVERIFY(window_->height() > 306);
    QVERIFY(placeOf(dot(7, 15)).bottom() < placeOf(button("FwButt")).top());
    QVERIFY(placeOf(dot(7, 15)).right() < window_->width());

    typeOffset(QStringLiteral("1025"));
    click(button("StartButt"));
    QVERIFY(window_->pass().isOpen());
    QCOMPARE(gridHex(), QByteArray::fromStdString(dotmatrix::hexText(std::span(
                            reinterpret_cast<const std::uint8_t*>(model.constData()) + 1024, 16))));
    // The top row's leftmost dot is bit 7 of the glyph's first byte.
    click(dot(0, 0));
    model[1024] = static_cast<char>(model[1024] ^ 0x80);
    QCOMPARE(dot(0, 0)->isLit(), (model[1024] & 0x80) != 0);
    const QString lit = (model[1024 + 11] & 0x40) != 0 ? QStringLiteral("lit") : QStringLiteral("unlit");
    QCOMPARE(QAccessible::queryAccessibleInterface(dot(1, 11))->text(QAccessible::Name),
             QStringLiteral("Column 2, row 12, byte 12 bit 6: ") + lit);
    // The grid is one Tab stop, its mark moved by the arrow keys; Shift+H
    // mirrors left-right, reversing each row's bits. Shortcuts act in the
    // active window, as on a desktop once a dialog has closed.
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    button("SkipButt")->setFocus();
    QTest::keyClick(button("SkipButt"), Qt::Key_Tab);
    QVERIFY(window_->focusWidget()->objectName().startsWith(QStringLiteral("Dot(")));
    QTest::keyClick(window_->focusWidget(), Qt::Key_End);
    QTest::keyClick(window_->focusWidget(), Qt::Key_Down);
    QCOMPARE(window_->focusWidget(), dot(7, 1));
    QTest::keyClick(window_->focusWidget(), Qt::Key_H, Qt::ShiftModifier);
    for (int row = 0; row < 16; ++row) {
        auto byte = static_cast<std::uint8_t>(model[1024 + row]);
        std::uint8_t reversed = 0;
        for (int bit = 0; bit < 8; ++bit)
            reversed = static_cast<std::uint8_t>(reversed | (((byte >> bit) & 1) << (7 - bit)));
        model[1024 + row] = static_cast<char>(reversed);
    }
    click(button("FwButt"));
    QCOMPARE(textBox("curoff")->text(), QStringLiteral("1041"));
    click(dot(7, 15));
    button("SkipButt")->setFocus();
    model[1040 + 15] = static_cast<char>(model[1040 + 15] ^ 0x01);
    QTest::keyClick(button("SkipButt"), Qt::Key_Tab);
    QCOMPARE(window_->focusWidget(), dot(7, 1));
    QTest::keyClick(window_->focusWidget(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text().toLatin1(), gridHex());

    // The overview draws 8 x 16 glyphs a pitch apart.
    click(button("OverviewButt"));
    dotmatrix::GlyphView* view = window_->overview()->view();
    QTRY_VERIFY(view->upToDate());
    QCOMPARE(view->layout().down(), 16);
    QCOMPARE(window_->overview()->findChild<QLabel*>(QStringLiteral("OverviewFormat"))->text(),
             QStringLiteral("Format: 8x16, bytes as rows, bit 7 on the left"));
    // The glyph written back, mirrored, as the target holds it.
    QCOMPARE(view->glyphBytes(dotmatrix::Position(1025)).toLatin1(), model.mid(1024, 16).toHex(' ').toUpper());
    // The overview offers the formats too; back at an original size, the
    // option is selected, and the cells and the window are as drawn.
    answerer_->dialogs.push_back([](QDialog* dialog) {
        dialog->findChild<QComboBox*>(QStringLiteral("FormatLines"))->setCurrentIndex(0);
        dialog->findChild<QSpinBox*>(QStringLiteral("FormatWidth"))->setValue(6);
        dialog->findChild<QSpinBox*>(QStringLiteral("FormatHeight"))->setValue(8);
        dialog->accept();
    });
    click(window_->overview()->findChild<QPushButton*>(QStringLiteral("OverviewOtherFormat")));
    window_->overview()->close();
    QVERIFY(symtype(2)->isChecked());
    QCOMPARE(window_->pass().characterBytes(), 6);
    QVERIFY(cell(1, 7)->isVisible());
    QVERIFY(control<QLabel>(QStringLiteral("FormatWords"))->isHidden());
    QCOMPARE(window_->size(), QSize(469, 306));
    // The rest is the source's again, the second glyph's dot too, once the user agrees.
    answerer_->answers.push_back(QMessageBox::Yes);
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QCOMPARE(readFile(targetPath), model.left(1040) + source.mid(1040));
}

void Form1Test::undoFollowsEveryEditAndEndsWithEveryWriteBack()
{
    const QString targetPath = startPass(QStringLiteral("1"));  // 01 02 03 04
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QWidget* focused = window_->focusWidget();
    QCOMPARE(focused, button("FwButt"));
    const auto key = [this](Qt::Key pressed, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QTest::keyClick(window_->focusWidget(), pressed, modifiers);
    };

    // Dots clicked with the mouse are undone and redone where the focus is.
    click(cell(7, 0));
    click(cell(6, 7));
    QCOMPARE(window_->focusWidget(), focused);
    QCOMPARE(gridHex(), QByteArray("00 82 03 04"));
    key(Qt::Key_Z);
    QCOMPARE(gridHex(), QByteArray("00 02 03 04"));
    key(Qt::Key_Y);
    QCOMPARE(gridHex(), QByteArray("00 82 03 04"));
    key(Qt::Key_Z);
    // In a text box the same keys edit its text.
    QLineEdit* offset = textBox("Offset");
    offset->setFocus();
    offset->setText(QStringLiteral("1"));
    QTest::keyClicks(offset, QStringLiteral("23"));
    key(Qt::Key_Z);
    QCOMPARE(offset->text(), QStringLiteral("1"));
    key(Qt::Key_Y);
    QCOMPARE(offset->text(), QStringLiteral("123"));
    QCOMPARE(gridHex(), QByteArray("00 02 03 04"));
    focused->setFocus();

    // A refused move writes back and stays: the history ends there, and
    // Undo and Redo then do nothing.
    click(button("Stepback"));
    QVERIFY(answerer_->messages.last().startsWith(QStringLiteral("There is no character before position 1")));
    // As on a desktop, the window is active again once the box has closed.
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    key(Qt::Key_Z);
    key(Qt::Key_Y);
    QCOMPARE(gridHex(), QByteArray("00 02 03 04"));
    QCOMPARE(readFile(targetPath), QByteArray::fromHex("00020304"));
    click(cell(5, 1));
    key(Qt::Key_Z);
    key(Qt::Key_Z);
    QCOMPARE(gridHex(), QByteArray("00 02 03 04"));

    // A jump writes back: what came before it can't be undone either.
    click(cell(4, 0));
    click(button("OverviewButt"));
    dotmatrix::GlyphView* view = window_->overview()->view();
    QTRY_VERIFY(view->upToDate());
    view->activate(dotmatrix::Position(9));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    focused->setFocus();
    key(Qt::Key_Z);
    QCOMPARE(gridHex(), QByteArray("09 0A 0B 0C"));
    click(button("FwButt"));
    QCOMPARE(readFile(targetPath), QByteArray::fromHex("00020305" "05060708" "090A0B0C"));
}

void Form1Test::dotOrderChangesTheDrawingNeverTheBytes()
{
    const QString targetPath = startPass();  // 05 06 07 08 at position 5: Col4 to Col7
    const auto rightClick = [this] {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), cell(5, 3)->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(cell(5, 3), &event);
    };
    const auto lit = [this](int arrayNumber, int index) { return cell(arrayNumber, index)->isLit(); };
    QVERIFY(lit(7, 0) && lit(7, 2) && !lit(7, 7));  // 05: bit 0 at the bottom, first byte rightmost

    chooseFromMenu(rightClick, QStringLiteral("Bit 0 on top"));
    QVERIFY(lit(7, 7) && lit(7, 5) && !lit(7, 0));
    click(button("OverviewButt"));
    auto* overview = window_->overview();
    auto* bit0OnTop = overview->findChild<QCheckBox*>(QStringLiteral("Bit0OnTop"));
    auto* firstByteLeft = overview->findChild<QCheckBox*>(QStringLiteral("FirstByteLeft"));
    QVERIFY(bit0OnTop->isChecked() && !firstByteLeft->isChecked());
    firstByteLeft->click();  // from the overview: the grid follows
    QVERIFY(lit(4, 7) && lit(4, 5) && !lit(7, 7));  // the first byte is now leftmost
    QCOMPARE(QAccessible::queryAccessibleInterface(cell(4, 7))->text(QAccessible::Name),
             QStringLiteral("Column 1, bit 0 (top): lit"));
    const QImage shown = overview->view()->viewport()->grab().toImage();
    QTRY_VERIFY(overview->view()->upToDate());

    // A click and a shift act where the screen shows them; the bytes stay in file order.
    click(cell(4, 6));  // bit 1 of the first byte: 05 -> 07
    QCOMPARE(gridHex(), QByteArray("07 06 07 08"));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_->focusWidget(), Qt::Key_Up, Qt::ControlModifier);  // up: towards bit 0
    QCOMPARE(gridHex(), QByteArray("03 03 03 04"));
    QTest::keyClick(window_->focusWidget(), Qt::Key_Right, Qt::ControlModifier);  // right: towards the last byte
    QCOMPARE(gridHex(), QByteArray("00 03 03 03"));
    click(button("FwButt"));
    QCOMPARE(readFile(targetPath).mid(4, 4), QByteArray::fromHex("00030303"));
    bit0OnTop->click();
    firstByteLeft->click();
    QVERIFY(lit(7, 0) && lit(7, 3) && !lit(4, 0));  // 09 0A 0B 0C as before
}

void Form1Test::overviewNamesCharactersAndSleepsWhenIdle()
{
    using dotmatrix::Position;
    const QString sourcePath = folder_->filePath(QStringLiteral("font.rom"));
    writeFile(sourcePath, countingBytes(2000));
    chooseFiles(sourcePath, folder_->filePath(QStringLiteral("out.bin")));
    typeOffset(QStringLiteral("331"));
    click(symtype(1));
    click(button("OverviewButt"));
    dotmatrix::OverviewWindow* overview = window_->overview();
    dotmatrix::GlyphView* view = overview->view();
    QTRY_VERIFY(view->upToDate());

    // Nothing happens: a read twice a second looks for other programs, and nothing more.
    const int before = view->readCount();
    QTest::qWait(1000);
    QVERIFY2(view->readCount() - before <= 3, qPrintable(QString::number(view->readCount() - before)));

    // The last glyph in view stays in view as the labels widen with the codes.
    writeFile(sourcePath, countingBytes(400000));
    view->refresh(Position(300001));
    QTRY_VERIFY(view->upToDate());
    const Position lastShown = view->glyphsInView().back();
    answerer_->texts.push_back(QStringLiteral("A"));
    overview->askCharacter(lastShown);
    QVERIFY(!view->glyphRect(lastShown).isEmpty());
    click(symtype(2));  // a new width forgets the name
    click(symtype(1));
    QVERIFY(!view->characterMark().has_value());
    writeFile(sourcePath, countingBytes(2000));
    view->refresh(Position(331));
    QTRY_VERIFY(view->upToDate());

    // Glyph 331 is "A": its neighbours are counted from it.
    const auto* status = overview->findChild<QLabel*>(QStringLiteral("OverviewStatus"));
    answerer_->texts.push_back(QStringLiteral("A"));
    overview->askCharacter(Position(331));
    QCOMPARE(answerer_->titles.last(), QStringLiteral("Dot matrix character generator"));
    QVERIFY2(status->text().contains(QStringLiteral("is character 65 A")), qPrintable(status->text()));
    QCOMPARE(view->codeOf(Position(341)), std::optional<int>('C'));
    QCOMPARE(view->glyphDescription(Position(336)), QStringLiteral("50 51 52 53 54, character 66 B"));

    auto* goTo = overview->findChild<QLineEdit*>(QStringLiteral("GoToCharacter"));
    const auto go = [&](const QString& text) {
        goTo->setText(text);
        QTest::keyClick(goTo, Qt::Key_Return);
    };
    go(QStringLiteral("0x44"));
    QCOMPARE(view->selected(), Position(346));
    QTest::keyClick(view, Qt::Key_Return);  // Enter jumps, as a click does
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("346"));
    for (const auto& [typed, said] : {std::pair{"0x1G", "neither one character nor a code"},
                                      std::pair{"256", "no code from 0 to 255"}, std::pair{"AB", "neither"},
                                      std::pair{"-1", "no code from 0 to 255"}}) {
        go(QString::fromLatin1(typed));
        QVERIFY2(status->text().contains(QString::fromLatin1(said)), qPrintable(status->text()));
        QCOMPARE(view->selected(), Position(346));
    }
    // Code 0 can't start before position 1; a new width forgets the names.
    answerer_->texts.push_back(QStringLiteral("200"));
    overview->askCharacter(Position(6));
    QVERIFY2(status->text().contains(QStringLiteral("before the first byte")), qPrintable(status->text()));
    QCOMPARE(view->codeOf(Position(341)), std::optional<int>('C'));
    click(symtype(2));
    QVERIFY(!view->characterMark().has_value());
}

void Form1Test::waitingForATaskHoldsTheWindowAndGivesItBack()
{
    // A task held by a latch, without any slow file system.
    using dotmatrix::BackgroundTask;
    using dotmatrix::Position;
    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    const auto held = [&](BackgroundTask& task) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return go; });
        return task.report(task.last());
    };
    const auto release = [&] {
        const std::lock_guard lock(mutex);
        go = true;
        released.notify_all();
    };
    QPushButton* start = button("StartButt");
    QLineEdit* offset = textBox("Offset");
    offset->setFocus();
    bool heldWhileWaiting = false;
    QTimer::singleShot(200, window_.get(), [&] {
        heldWhileWaiting = !start->isEnabled() && !offset->isEnabled() && QGuiApplication::overrideCursor() != nullptr;
        QTest::keyClicks(window_.get(), QStringLiteral("77"));  // dropped, now and later
        release();
    });
    dotmatrix::TaskWaiter waiter(*window_, [](Position) {});
    BackgroundTask task(BackgroundTask::Kind::TailCopy, Position(1), Position(10), held);
    waiter.run(task);
    QVERIFY(task.join());
    QVERIFY(heldWhileWaiting);
    QVERIFY(start->isEnabled() && offset->isEnabled() && !waiter.waiting());
    QCOMPARE(window_->focusWidget(), offset);
    QCOMPARE(offset->text(), QStringLiteral("0000"));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    // A failure while waiting leaves nothing of the wait behind.
    go = false;
    QTimer::singleShot(100, window_.get(), release);
    dotmatrix::TaskWaiter failing(*window_, [](Position) { throw std::runtime_error("no room to show it"); });
    BackgroundTask prefix(BackgroundTask::Kind::PrefixCopy, Position(1), Position(10), held);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, failing.run(prefix));
    QVERIFY(start->isEnabled() && offset->isEnabled() && !failing.waiting());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::keyClicks(offset, QStringLiteral("1"));
    QCOMPARE(offset->text(), QStringLiteral("00001"));
}

void Form1Test::glyphsGoOutToASheetAndComeBackIn()
{
    const QString targetPath = startPass();  // 05 06 07 08 at position 5
    click(button("OverviewButt"));
    dotmatrix::OverviewWindow* overview = window_->overview();
    QTRY_VERIFY(overview->view()->upToDate());
    const QString sheetPath = folder_->filePath(QStringLiteral("font sheet"));  // no extension: kept as typed

    // Out: three glyphs from the one on display.
    answerer_->texts.push_back(QStringLiteral("3"));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(sheetPath));
    overview->findChild<QPushButton*>(QStringLiteral("ExportGlyphs"))->click();
    QImage sheet(sheetPath, "PNG");
    QCOMPARE(sheet.size(), QSize(1 + 3 * 5, 1 + 9));
    QCOMPARE(sheet.pixel(1 + 3, 1 + 7), qRgb(0, 0, 0));  // byte 5, bit 0: bottom right of the first glyph
    QCOMPARE(sheet.pixel(1 + 3, 1 + 6), qRgb(255, 255, 255));
    QCOMPARE(sheet.text(QStringLiteral("dotmatrix-position")), QStringLiteral("5"));
    // The extension typed picks the format, whatever the filter shows.
    const QString bdfPath = folder_->filePath(QStringLiteral("font.bdf"));
    answerer_->texts.push_back(QStringLiteral("3"));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(bdfPath));
    overview->findChild<QPushButton*>(QStringLiteral("ExportGlyphs"))->click();
    QVERIFY(readFile(bdfPath).startsWith("STARTFONT 2.1\n"));

    // A paint program lights the top left dot of the second glyph: bit 7 of byte 12.
    sheet.setPixel(1 + 5, 1, qRgb(0, 0, 0));
    QVERIFY(sheet.save(sheetPath, "PNG"));
    click(cell(7, 1));  // an edit on display goes first, as with any move
    answerer_->fileChoices.push_back(ModalAnswerer::choose(sheetPath));
    answerer_->answers.push_back(QMessageBox::Yes);
    const int said = answerer_->messages.size();
    overview->findChild<QPushButton*>(QStringLiteral("ImportSheet"))->click();
    QCOMPARE(answerer_->messages.size(), said + 1);
    // The click on display is not written yet: the question says the sheet replaces it.
    QCOMPARE(answerer_->messages.last(),
             QStringLiteral("2 of the sheet's 3 glyphs differ from what the target holds, at positions 5 to 12. That "
                            "replaces the changed dots on display, which are not written yet. To keep them, answer No "
                            "and move on first: every move writes the character on display to the target.\n\nWrite "
                            "them to the target anyway?"));
    QCOMPARE(readFile(targetPath), countingBytes(11) + QByteArray::fromHex("8C"));
    QCOMPARE(gridHex(), QByteArray("05 06 07 08"));  // the sheet's, as the target now holds it
    QCOMPARE(window_->pass().state().CurOffset, dotmatrix::Position(5));

    // What is no sheet is said and writes nothing.
    const QString text = folder_->filePath(QStringLiteral("notes.txt"));
    writeFile(text, QByteArray("not a picture"));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(text));
    overview->findChild<QPushButton*>(QStringLiteral("ImportSheet"))->click();
    QVERIFY2(answerer_->messages.last().startsWith(QStringLiteral("Cannot read \"") + QDir::toNativeSeparators(text)
                                                   + QStringLiteral("\" as a PNG sheet")),
             qPrintable(answerer_->messages.last()));
    QImage wide(40, 19, QImage::Format_RGB32);
    wide.fill(Qt::white);
    QVERIFY(wide.save(sheetPath, "PNG"));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(sheetPath));
    overview->findChild<QPushButton*>(QStringLiteral("ImportSheet"))->click();
    QVERIFY2(answerer_->messages.last().contains(QStringLiteral("is no sheet of glyphs: The image is 40 x 19 pixels")),
             qPrintable(answerer_->messages.last()));
    // A valid image far larger than any sheet is said by its size.
    QImage huge(8000, 8000, QImage::Format_Mono);
    huge.fill(1);
    QVERIFY(huge.save(sheetPath, "PNG"));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(sheetPath));
    overview->findChild<QPushButton*>(QStringLiteral("ImportSheet"))->click();
    QVERIFY2(answerer_->messages.last().contains(QStringLiteral("the image is 8000 x 8000 pixels")),
             qPrintable(answerer_->messages.last()));
    // The overview comes back onto the main window's screen, wherever it was left.
    const QRect area = window_->screen()->availableGeometry();
    overview->close();
    overview->move(area.right() - 100, area.bottom() - 100);
    click(button("OverviewButt"));
    QVERIFY2(area.contains(window_->overview()->frameGeometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(window_->overview()->frameGeometry().x())
                            .arg(window_->overview()->frameGeometry().y())
                            .arg(window_->overview()->frameGeometry().width())
                            .arg(window_->overview()->frameGeometry().height())));
    QCOMPARE(readFile(targetPath), countingBytes(11) + QByteArray::fromHex("8C"));

    // Finishing keeps what the import wrote, and asks nothing of it.
    const int before = answerer_->messages.size();
    click(button("SkipButt"));
    QCOMPARE(answerer_->messages.size(), before + 1);
    QCOMPARE(answerer_->messages.last(), QStringLiteral("Completed"));
    QByteArray expected = countingBytes(40);
    expected[11] = char(0x8C);
    QCOMPARE(readFile(targetPath), expected);
}

void Form1Test::findFontsListsTheFontAndGoesThere()
{
#ifdef DOTMATRIX_FONT_IMAGES
    // A font of six bytes a glyph, bit 0 on top, first byte on the left, among random bytes.
    namespace images = dotmatrix::fontimages;
    std::mt19937 random(7);
    images::Bytes bytes = images::randomBytes(20000, random);
    const images::Bytes font = images::consoleGlyphs(0x20, 96, 6, {true, true});
    bytes.insert(bytes.end(), font.begin(), font.end());
    const images::Bytes after = images::randomBytes(9000, random);
    bytes.insert(bytes.end(), after.begin(), after.end());
    const QString sourcePath = folder_->filePath(QStringLiteral("firmware.bin"));
    writeFile(sourcePath, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    chooseFiles(sourcePath, folder_->filePath(QStringLiteral("out.bin")));
    click(button("OverviewButt"));
    dotmatrix::OverviewWindow* overview = window_->overview();
    overview->findChild<QPushButton*>(QStringLiteral("FindFonts"))->click();
    // A second scan at once takes the first one's place; its list is the one shown.
    overview->findChild<QPushButton*>(QStringLiteral("FindFonts"))->click();
    dotmatrix::FontsFoundWindow* found = overview->fontsFound();
    QVERIFY(found != nullptr && found->isVisible());
    QCOMPARE(found->windowTitle(), QStringLiteral("Fonts found"));
    QTRY_VERIFY(!found->scanning());
    auto* list = found->findChild<QListWidget*>(QStringLiteral("FontList"));
    QVERIFY(list->count() >= 1);
    // The font begins at the space, and its characters are named.
    const QString named = list->item(0)->data(Qt::AccessibleTextRole).toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^Position 20001, width 6, bit 0 on top, first byte on the left, "
                                               "[0-9]+ glyphs, 'A' at 20199$"))
                 .match(named)
                 .hasMatch(),
             qPrintable(named));
    emit list->itemActivated(list->item(0));
    QCOMPARE(textBox("Offset")->text(), QStringLiteral("20001"));
    QVERIFY(symtype(2)->isChecked());
    QCOMPARE(overview->view()->selected(), dotmatrix::Position(20001));
    // As "This is character..." would: codes label the glyphs at once.
    QCOMPARE(overview->view()->codeOf(dotmatrix::Position(20199)), std::optional<int>('A'));
    QVERIFY(overview->findChild<QCheckBox*>(QStringLiteral("Bit0OnTop"))->isChecked());
    QVERIFY(overview->findChild<QCheckBox*>(QStringLiteral("FirstByteLeft"))->isChecked());
#else
    QSKIP("the console font the test hides is made on Linux builds only");
#endif
}

void Form1Test::filesComeFromTheCommandLineAndByDrops()
{
    const QString source = folder_->filePath(QStringLiteral("font.rom"));
    const QString target = folder_->filePath(QStringLiteral("out.bin"));
    writeFile(source, countingBytes(40));
    // As the dialogs would: a missing source is said, and the window goes on.
    window_->openFiles(folder_->filePath(QStringLiteral("missing.rom")), target);
    QCOMPARE(answerer_->messages.size(), 1);
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("does not exist")));
    QCOMPARE(textBox("sfile")->text(), QString());
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(target));
    // The same file as both asks first.
    writeFile(target, QByteArray("t"));
    answerer_->answers.push_back(QMessageBox::No);
    window_->openFiles(target, QString());
    QVERIFY(answerer_->messages.last().contains(QStringLiteral("is the target file")));
    QCOMPARE(textBox("sfile")->text(), QString());

    // A drop on the window is the source, on the target's path the target.
    const auto drop = [&](const QString& path, QWidget* on) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        const QPoint at = on->mapTo(window_.get(), on->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &dropped);
        return enter.isAccepted();
    };
    QVERIFY(drop(source, button("StartButt")));
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(source));
    const QString other = folder_->filePath(QStringLiteral("other.bin"));
    writeFile(other, QByteArray("x"));
    QVERIFY(drop(other, textBox("ttext")));
    QCOMPARE(textBox("ttext")->text(), QDir::toNativeSeparators(other));
    // During a pass a drop is refused as a dialog would be.
    typeOffset(QStringLiteral("5"));
    click(button("StartButt"));
    QVERIFY(window_->pass().isOpen());
    const int said = answerer_->messages.size();
    drop(target, textBox("sfile"));
    QCOMPARE(answerer_->messages.size(), said + 1);
    QVERIFY(answerer_->messages.last().startsWith(QStringLiteral("A pass is open")));
    QCOMPARE(textBox("sfile")->text(), QDir::toNativeSeparators(source));
}

void Form1Test::settingsAreKeptFromOneStartToTheNext()
{
    // The first start: the original defaults.
    QVERIFY(symtype(1)->isChecked());
    click(symtype(3));
    click(button("OverviewButt"));
    dotmatrix::OverviewWindow* overview = window_->overview();
    overview->findChild<QCheckBox*>(QStringLiteral("Bit0OnTop"))->click();
    overview->findChild<QSpinBox*>(QStringLiteral("DotSize"))->setValue(7);
    overview->resize(700, 400);
    window_->move(40, 30);
    const QPoint place = window_->pos();
    const QString source = folder_->filePath(QStringLiteral("font.rom"));
    writeFile(source, countingBytes(40));
    answerer_->fileChoices.push_back(ModalAnswerer::choose(source));
    click(button("Loadfile"));
    window_->close();
    window_.reset();

    // The next start takes them up, and nothing of the files.
    window_ = std::make_unique<Form1>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(symtype(3)->isChecked());
    QCOMPARE(window_->pos(), place);
    QCOMPARE(textBox("sfile")->text(), QString());
    click(button("OverviewButt"));
    overview = window_->overview();
    QVERIFY(overview->findChild<QCheckBox*>(QStringLiteral("Bit0OnTop"))->isChecked());
    QVERIFY(!overview->findChild<QCheckBox*>(QStringLiteral("FirstByteLeft"))->isChecked());
    QCOMPARE(overview->findChild<QSpinBox*>(QStringLiteral("DotSize"))->value(), 7);
    QCOMPARE(overview->size(), QSize(700, 400));
    // The source dialog opens in the folder chosen from last time.
    QString opened;
    answerer_->fileChoices.push_back([&](QFileDialog* dialog) {
        opened = dialog->directory().absolutePath();
        dialog->reject();
    });
    click(button("Loadfile"));
    QCOMPARE(opened, QFileInfo(source).absolutePath());

    // Another format is taken up too, and goes once an option is chosen.
    answerer_->dialogs.push_back([](QDialog* dialog) {
        dialog->findChild<QSpinBox*>(QStringLiteral("FormatHeight"))->setValue(16);
        dialog->findChild<QComboBox*>(QStringLiteral("FormatPages"))->setCurrentIndex(1);
        dialog->accept();
    });
    click(button("OtherFormat"));
    window_->close();
    window_ = std::make_unique<Form1>();
    QCOMPARE(control<QLabel>(QStringLiteral("FormatWords"))->text(),
             QStringLiteral("Format: width 7, 16 tall, page by page, bit 0 on top, first byte on the right"));
    click(symtype(0));
    window_->close();
    window_ = std::make_unique<Form1>();
    QVERIFY(symtype(0)->isChecked());
    QVERIFY(control<QLabel>(QStringLiteral("FormatWords"))->isHidden());
}

#include "form1_test.moc"
