// The main window as laid out: controls, captions, fonts, colours, tab order
// and the menu tree.
#include "Fonts.h"
#include "HexView.h"
#include "PictureBox.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>

namespace qvx::test {
namespace {

struct Control {
    const char* name;
    const char* kind; // Qt class the control must be
    const char* parent;
    QRect geometry;
    const char* caption; // nullptr: no caption to check
    bool bold;
    int tabOrder; // -1: none
};

const Control kControls[] = {
    {"Label1", "QLabel", "ClientArea", {16, 8, 62, 16}, "File Name", false, -1},
    {"edtFileName", "QLineEdit", "ClientArea", {88, 8, 561, 21}, "", false, 0},
    {"GroupBox1", "QGroupBox", "ClientArea", {8, 36, 137, 301}, "Command Button", false, 1},
    {"btnLoadFile", "QPushButton", "GroupBox1", {8, 16, 121, 25}, "LOAD FILE", true, 5},
    {"btnReadChip", "QPushButton", "GroupBox1", {8, 48, 121, 25}, "READ CHIP", true, 6},
    {"btnErase", "QPushButton", "GroupBox1", {8, 80, 121, 25}, "ERASE", true, 0},
    {"btnBlank", "QPushButton", "GroupBox1", {8, 112, 121, 25}, "BLANK", true, 2},
    {"btnProgram", "QPushButton", "GroupBox1", {8, 144, 121, 25}, "PROGRAM", true, 1},
    {"btnVerify", "QPushButton", "GroupBox1", {8, 176, 121, 25}, "VERIFY CODE", true, 3},
    {"btnAuto", "QPushButton", "GroupBox1", {8, 208, 121, 81}, "AUTO-PROGRAM", true, 4},
    {"cmbDevice", "QComboBox", "ClientArea", {152, 40, 137, 21}, "AT89S8252", false, 2},
    {"GroupBox2", "QGroupBox", "ClientArea", {152, 64, 129, 73}, "Security Lock", false, 3},
    {"chkLock1", "QCheckBox", "GroupBox2", {8, 16, 73, 17}, "Lock Bit 1", false, 0},
    {"chkLock2", "QCheckBox", "GroupBox2", {8, 32, 73, 17}, "Lock Bit 2", false, 1},
    {"chkLock3", "QCheckBox", "GroupBox2", {8, 48, 73, 17}, "Lock Bit 3", false, 2},
    {"SpeedButton1", "QToolButton", "GroupBox2", {88, 16, 33, 49}, "", false, -1},
    {"GroupBox3", "QGroupBox", "ClientArea", {152, 142, 129, 43}, "Fuse", false, 8},
    {"chk_x2Clock", "QCheckBox", "GroupBox3", {8, 16, 97, 17}, "x2 Clock", false, 0},
    {"btnFuse_Write", "QPushButton", "GroupBox3", {88, 11, 33, 25}, "WR", true, 1},
    {"Image1", "qvx::PictureBox", "ClientArea", {152, 192, 129, 65}, nullptr, false, -1},
    {"btnMode", "QPushButton", "ClientArea", {152, 264, 129, 25}, "OPERATION MODE", false, 7},
    {"edtStatus", "QLineEdit", "ClientArea", {152, 296, 129, 21}, "PROGRAM MODE.", false, 6},
    {"ProgressBar1", "QProgressBar", "ClientArea", {152, 320, 129, 17}, nullptr, false, 4},
    {"StringGrid1", "qvx::HexGrid", "ClientArea", {288, 32, 361, 305}, nullptr, false, 5},
};

QString Caption(QWidget* widget)
{
    if (auto* w = qobject_cast<QLabel*>(widget))
        return w->text();
    if (auto* w = qobject_cast<QLineEdit*>(widget))
        return w->text();
    if (auto* w = qobject_cast<QGroupBox*>(widget))
        return w->title();
    if (auto* w = qobject_cast<QAbstractButton*>(widget))
        return w->text();
    if (auto* w = qobject_cast<QComboBox*>(widget))
        return w->currentText();
    return {};
}

class LayoutTest : public WindowTest {};

TEST_F(LayoutTest, EveryControlSitsWhereTheDesignPutsIt)
{
    TfrmMain& w = Open();
    const QFont windowFont = WindowFont();
    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        auto* widget = w.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(c.kind)) << widget->metaObject()->className();
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        EXPECT_EQ(widget->geometry(), c.geometry);
        if (c.caption) {
            EXPECT_EQ(Caption(widget), QString::fromLatin1(c.caption));
        }
        EXPECT_EQ(widget->font().bold(), c.bold);
        if (std::string(c.name) != "Label1") {
            EXPECT_EQ(widget->font().family(), windowFont.family());
            EXPECT_EQ(widget->font().pixelSize(), 11);
        }
        if (c.tabOrder >= 0) {
            EXPECT_EQ(widget->property("TabOrder").toInt(), c.tabOrder);
        } else {
            EXPECT_FALSE(widget->property("TabOrder").isValid());
        }
    }
    EXPECT_EQ(w.Label1->font().pixelSize(), 13); // 10 pt
}

TEST(WindowPlacement, DesignPositionWhereItFitsInsideTheScreenOtherwise)
{
    const QPoint design(517, 555);
    const QSize outer(664, 398);
    EXPECT_EQ(PlaceOnScreen(design, outer, QRect(0, 0, 1920, 1080)), design);
    EXPECT_EQ(PlaceOnScreen(design, outer, QRect(0, 0, 1181, 953)), design); // just fits
    EXPECT_EQ(PlaceOnScreen(design, outer, QRect(0, 0, 1366, 740)), QPoint(517, 342));
    EXPECT_EQ(PlaceOnScreen(design, outer, QRect(0, 28, 1024, 740)), QPoint(360, 370));
    // A second screen to the right, or a screen smaller than the window.
    EXPECT_EQ(PlaceOnScreen(design, outer, QRect(1920, 0, 1280, 1024)), QPoint(1920, 555));
    EXPECT_EQ(PlaceOnScreen(design, outer, QRect(0, 24, 640, 376)), QPoint(0, 24));
}

TEST_F(LayoutTest, WindowHasItsCaptionFixedClientAreaAndDesignPosition)
{
    TfrmMain& w = Open();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("QVX-ISP  V2.2"));
    // The offscreen screen is 800 x 600: too small for the design position,
    // so the window is pulled inside it.
    const QRect available = w.screen()->availableGeometry();
    ASSERT_LT(available.width(), 517 + 656);
    EXPECT_LE(w.x() + w.width(), available.right() + 1);
    EXPECT_LE(w.y() + w.height(), available.bottom() + 1);
    EXPECT_GE(w.x(), available.x());
    EXPECT_GE(w.y(), available.y());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.centralWidget()->geometry(), QRect(0, w.menuBar()->height(), 656, 344));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()); // no sizing frame
    EXPECT_EQ(w.size(), QSize(656, 344 + w.menuBar()->height()));
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.windowIcon().pixmap(48, 48).size(), QSize(48, 48));
}

TEST_F(LayoutTest, DeviceBoxListsTheSevenChipsWithTheAT89S8252Chosen)
{
    TfrmMain& w = Open();
    QStringList items;
    for (int i = 0; i < w.cmbDevice->count(); ++i)
        items << w.cmbDevice->itemText(i);
    EXPECT_EQ(items, (QStringList{"AT89S51", "AT89S52", "AT89S53", "AT89S8252", "AT89S8253", "AT89S2051",
                                  "AT89S4051"}));
    EXPECT_EQ(w.cmbDevice->currentIndex(), 3);
    EXPECT_TRUE(w.cmbDevice->isEditable());
}

TEST_F(LayoutTest, StatusFieldIsAquaWithNavyTextWhateverItShows)
{
    TfrmMain& w = Open();
    for (const char* text : {"PROGRAM MODE.", "Load file complete.", "Code over MCU memory [8191]"}) {
        w.SetStatus(text);
        EXPECT_EQ(w.edtStatus->text(), QString::fromLatin1(text));
        EXPECT_EQ(w.edtStatus->cursorPosition(), 0); // a long text shows its beginning
        EXPECT_EQ(w.edtStatus->palette().color(QPalette::Base), QColor(0, 255, 255));
        EXPECT_EQ(w.edtStatus->palette().color(QPalette::Text), QColor(0, 0, 128));
        // What the field shows on the screen: mostly aqua.
        const QImage shown = w.edtStatus->grab().toImage();
        int aqua = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                aqua += shown.pixelColor(x, y) == QColor(0, 255, 255);
        EXPECT_GT(aqua, shown.width() * shown.height() / 2);
    }
}

TEST_F(LayoutTest, ProgressBarRunsFromZeroToAHundred)
{
    TfrmMain& w = Open();
    EXPECT_EQ(w.ProgressBar1->minimum(), 0);
    EXPECT_EQ(w.ProgressBar1->maximum(), 100);
    EXPECT_EQ(w.ProgressBar1->value(), 0);
}

TEST_F(LayoutTest, KeyButtonShowsTheKeyAndTakesNoFocus)
{
    TfrmMain& w = Open();
    EXPECT_EQ(w.SpeedButton1->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(w.SpeedButton1->text().isEmpty());
    const QPixmap key = w.SpeedButton1->icon().pixmap(w.SpeedButton1->iconSize());
    ASSERT_FALSE(key.isNull());
    // The key's background (the bitmap's bottom-left colour) is see-through,
    // the key itself is not.
    const QImage image = key.toImage();
    EXPECT_EQ(qAlpha(image.pixel(0, image.height() - 1)), 0);
    EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
}

TEST_F(LayoutTest, PictureIsTheDecodedJpegStretchedToItsBox)
{
    TfrmMain& w = Open();
    EXPECT_EQ(w.Image1->Picture().size(), QSize(258, 130));
    EXPECT_TRUE(w.Image1->hasScaledContents());
    const QImage shown = w.Image1->grab().toImage();
    EXPECT_EQ(shown.size(), QSize(129, 65));
    // The chip body, dark, fills the middle of the picture.
    EXPECT_LT(qGray(shown.pixel(30, 40)), 80);
}

// Tab moves through the controls in the design's order: the window's
// controls, each group's own controls at the group's place.
TEST_F(LayoutTest, TabKeyFollowsTheDesignOrder)
{
    TfrmMain& w = Open();
    w.btnFuse_Write->setEnabled(true); // so that Tab reaches the Fuse group
    w.chk_x2Clock->setEnabled(true);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.edtFileName->setFocus();
    QStringList visited;
    for (int i = 0; i < 17; ++i) {
        QWidget* focus = QApplication::focusWidget();
        while (focus && focus->objectName().isEmpty()) // the device box's own editor
            focus = focus->parentWidget();
        visited << (focus ? focus->objectName() : QStringLiteral("(none)"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (QStringList{"edtFileName", "btnErase", "btnProgram", "btnBlank", "btnVerify", "btnAuto",
                                    "btnLoadFile", "btnReadChip", "cmbDevice", "chkLock1", "chkLock2", "chkLock3",
                                    "StringGrid1", "edtStatus", "btnMode", "chk_x2Clock", "btnFuse_Write"}));
    QWidget* back = QApplication::focusWidget();
    EXPECT_EQ(back, w.edtFileName); // and round again
}

struct Item {
    const char* name;
    const char* caption; // empty for a separator
    bool checkable;
    bool checked;
    QKeySequence shortcut = {};
};

// The items the menu shows, in order (the recent files' places, hidden
// while the list is empty, are not among them).
void ExpectMenu(QMenu* menu, const char* name, const char* title, std::initializer_list<Item> items)
{
    SCOPED_TRACE(name);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), QString::fromLatin1(name));
    EXPECT_EQ(menu->title(), QString::fromLatin1(title));
    QList<QAction*> actions;
    for (QAction* action : menu->actions())
        if (action->isVisible())
            actions << action;
    ASSERT_EQ(actions.size(), qsizetype(items.size()));
    int i = 0;
    for (const Item& item : items) {
        QAction* a = actions[i++];
        SCOPED_TRACE(item.name);
        EXPECT_EQ(a->objectName(), QString::fromLatin1(item.name));
        EXPECT_EQ(a->isSeparator(), std::string(item.caption).empty());
        EXPECT_EQ(a->text(), QString::fromLatin1(item.caption));
        EXPECT_EQ(a->isCheckable(), item.checkable);
        EXPECT_EQ(a->isChecked(), item.checked);
        EXPECT_EQ(a->shortcut(), item.shortcut);
        EXPECT_TRUE(a->isEnabled());
    }
}

TEST_F(LayoutTest, MenuTreeWithAccessKeysAndCheckMarks)
{
    TfrmMain& w = Open();
    EXPECT_EQ(w.menuBar()->objectName(), QStringLiteral("MainMenu1"));
    const QList<QAction*> bar = w.menuBar()->actions();
    ASSERT_EQ(bar.size(), 5);
    ExpectMenu(bar[0]->menu(), "Files1", "Files",
               {{"Load1", "&Load Code", false, false, QKeySequence(Qt::CTRL | Qt::Key_O)},
                {"SaveCodeAs1", "&Save Code As...", false, false, QKeySequence(Qt::CTRL | Qt::Key_S)},
                {"Exit1", "", false, false},
                {"ReadChip1", "&Read Chip", false, false},
                {"N2", "", false, false},
                {"Exit2", "E&xit", false, false}});
    ExpectMenu(bar[1]->menu(), "Device1", "Device",
               {{"AT89S511", "AT89S51", true, false},
                {"AT89S521", "AT89S52", true, false},
                {"AT89S531", "AT89S53", true, false},
                {"AT89S82521", "AT89S8252", true, true},
                {"AT89S82531", "AT89S8253", true, false},
                {"AT89S20511", "AT89S2051", true, false},
                {"AT89S40511", "AT89S4051", true, false},
                {"N6", "", false, false},
                {"DataMemory1", "Data Memory...", false, false},
                {"N7", "", false, false},
                {"DetectChip1", "Detect Chip", false, false}});
    ExpectMenu(bar[2]->menu(), "Port1", "Port",
               {{"LPT11", "LPT1", true, true},
                {"LPT21", "LPT2", true, false},
                {"N5", "", false, false},
                {"FT232RUSBcable1", "FT232R USB cable...", true, false},
                {"GPIOlines1", "GPIO lines...", true, false},
                {"ArduinoasISP1", "Arduino as ISP...", true, false},
                {"USBasp1", "USBasp...", true, false}});
    EXPECT_TRUE(bar[2]->isChecked()); // the design's mark on the Port menu itself
    ExpectMenu(bar[3]->menu(), "Option1", "Option",
               {{"ProgramMode1", "Program Mode", true, true},
                {"RUNMode1", "RUN Mode", true, false},
                {"N1", "", false, false},
                {"AutoRUNafterprogram1", "Auto RUN after auto program", true, true},
                {"AutoReloadFile1", "Auto Reload File", true, true},
                {"N3", "", false, false},
                {"TargetCrystal1", "Target crystal...", false, false},
                {"OperationLog1", "Operation Log", false, false}});
    EXPECT_EQ(bar[4], w.About1);
    EXPECT_EQ(bar[4]->objectName(), QStringLiteral("About1"));
    EXPECT_EQ(bar[4]->text(), QStringLiteral("About"));
    EXPECT_EQ(bar[4]->menu(), nullptr); // an entry without items
}

// Qt would flip a checkable item by itself when clicked; here only the
// handlers set the marks.
TEST_F(LayoutTest, MenuItemsDoNotSetTheirOwnCheckMarks)
{
    // Qt would flip a checkable item on every click; here only the handlers
    // set the marks, so an option flips exactly once per click and a device
    // item clicked twice stays checked.
    TfrmMain& w = Open();
    w.AutoReloadFile1->trigger();
    EXPECT_FALSE(w.AutoReloadFile1->isChecked());
    w.AutoReloadFile1->trigger();
    EXPECT_TRUE(w.AutoReloadFile1->isChecked());
    w.AT89S511->trigger();
    w.AT89S511->trigger();
    EXPECT_TRUE(w.AT89S511->isChecked());
    EXPECT_FALSE(w.AT89S82521->isChecked());
    w.LPT21->trigger();
    w.LPT21->trigger();
    EXPECT_TRUE(w.LPT21->isChecked());
    EXPECT_FALSE(w.LPT11->isChecked());
}

TEST_F(LayoutTest, OpenDialogFiltersHexFilesThenAllFiles)
{
    TfrmMain& w = Open();
    EXPECT_EQ(w.OpenDialog1->objectName(), QStringLiteral("OpenDialog1"));
    EXPECT_EQ(w.OpenDialog1->nameFilters(),
              (QStringList{"Hex File Format (*.hex *.ihx)", "All Files (*)", "Binary File (*.bin)"}));
    EXPECT_EQ(w.OpenDialog1->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(w.SaveDialog1->nameFilters(), (QStringList{"Hex File Format (*.hex)", "Binary File (*.bin)"}));
    EXPECT_EQ(w.SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(FileDialogFilters(QStringLiteral("A|*.a;*.b|B")), QStringList{"A (*.a *.b)"});
}

TEST(Fonts, FirstInstalledFamilyIsPicked)
{
    EXPECT_EQ(PickFamily({"No Such Face 1", "DejaVu Sans", "Liberation Sans"}), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(PickFamily({"No Such Face 1", "No Such Face 2"}), QStringLiteral("No Such Face 2"));
    EXPECT_EQ(WindowFont().pixelSize(), 11);
    EXPECT_EQ(LargeWindowFont().pixelSize(), 13);
}

} // namespace
} // namespace qvx::test
