// The main window as the front panel of the programmer code, the lock boxes
// that mirror the lock rules, and the JPEG decoding.
#include "JpegImage.h"
#include "Mode.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace qvx::test {
namespace {

class PanelTest : public WindowTest {
protected:
    std::vector<bool> Boxes() const
    {
        return {window->chkLock1->isChecked(), window->chkLock2->isChecked(), window->chkLock3->isChecked()};
    }
    int Level() const { return window->Chosen().Locks.LockLevel; }
};

TEST_F(PanelTest, EachChipControlReachesItsWidget)
{
    TfrmMain& w = Open();
    struct Pair {
        ChipControl control;
        std::function<bool()> enabled;
    };
    const std::vector<Pair> pairs = {
        {ChipControl::LoadFile, [&] { return w.btnLoadFile->isEnabled(); }},
        {ChipControl::Erase, [&] { return w.btnErase->isEnabled(); }},
        {ChipControl::Blank, [&] { return w.btnBlank->isEnabled(); }},
        {ChipControl::Program, [&] { return w.btnProgram->isEnabled(); }},
        {ChipControl::Verify, [&] { return w.btnVerify->isEnabled(); }},
        {ChipControl::Auto, [&] { return w.btnAuto->isEnabled(); }},
        {ChipControl::LockKey, [&] { return w.SpeedButton1->isEnabled(); }},
        {ChipControl::ReadChipMenu, [&] { return w.ReadChip1->isEnabled(); }},
        {ChipControl::ReadChip, [&] { return w.btnReadChip->isEnabled(); }},
        {ChipControl::FuseWrite, [&] { return w.btnFuse_Write->isEnabled(); }},
    };
    for (const Pair& p : pairs)
        w.SetControlEnabled(p.control, true);
    for (const Pair& p : pairs) {
        SCOPED_TRACE(int(p.control));
        w.SetControlEnabled(p.control, false);
        for (const Pair& q : pairs)
            EXPECT_EQ(q.enabled(), q.control != p.control); // only that one went off
        w.SetControlEnabled(p.control, true);
    }
}

TEST_F(PanelTest, RunModeDisablesTheChipControlsAndProgramModeEnablesThem)
{
    TfrmMain& w = Open();
    SetOperationMode(w.Link(), false, w.FuseDevice());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("RUN MODE."));
    for (QWidget* c : std::initializer_list<QWidget*>{w.btnLoadFile, w.btnReadChip, w.btnErase, w.btnBlank,
                                                      w.btnProgram, w.btnVerify, w.btnAuto, w.SpeedButton1,
                                                      w.btnFuse_Write})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_FALSE(w.ReadChip1->isEnabled());
    EXPECT_TRUE(w.Load1->isEnabled());
    EXPECT_TRUE(w.btnMode->isEnabled());
    EXPECT_TRUE(w.chkLock1->isEnabled());

    // A disabled menu item ignores a click from code.
    bool ran = false;
    QObject::connect(w.ReadChip1, &QAction::triggered, [&] { ran = true; });
    w.ReadChip1->trigger();
    EXPECT_FALSE(ran);

    SetOperationMode(w.Link(), true, w.FuseDevice());
    EXPECT_EQ(w.edtStatus->text(), QStringLiteral("PROGRAM MODE."));
    EXPECT_TRUE(w.btnAuto->isEnabled());
    EXPECT_TRUE(w.ReadChip1->isEnabled());
    EXPECT_FALSE(w.btnFuse_Write->isEnabled()); // the AT89S8252 has no fuse

    w.Chosen().DeviceCode = 4; // AT89S8253
    SetOperationMode(w.Link(), true, w.FuseDevice());
    EXPECT_TRUE(w.btnFuse_Write->isEnabled());
}

TEST_F(PanelTest, ModeChecksProgressX2ClockAndAutoReload)
{
    TfrmMain& w = Open();
    w.SetModeChecks(false);
    EXPECT_FALSE(w.ProgramMode1->isChecked());
    EXPECT_TRUE(w.RUNMode1->isChecked());
    w.SetModeChecks(true);
    EXPECT_TRUE(w.ProgramMode1->isChecked());
    EXPECT_FALSE(w.RUNMode1->isChecked());

    w.SetProgress(49);
    EXPECT_EQ(w.ProgressBar1->value(), 49);
    w.SetProgress(100);
    EXPECT_EQ(w.ProgressBar1->value(), 100);

    w.SetX2Clock(true);
    EXPECT_TRUE(w.chk_x2Clock->isChecked());
    EXPECT_TRUE(w.X2Clock());
    w.chk_x2Clock->setChecked(false);
    EXPECT_FALSE(w.X2Clock());

    EXPECT_TRUE(w.AutoReload());
    w.AutoReloadFile1->setChecked(false);
    EXPECT_FALSE(w.AutoReload());
}

TEST_F(PanelTest, ClickingLockBitThreeTicksAllAndLockBitOneClearsAll)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.chkLock3, Qt::LeftButton);
    EXPECT_EQ(Boxes(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(Level(), 3);
    QTest::mouseClick(w.chkLock3, Qt::LeftButton);
    EXPECT_EQ(Boxes(), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(Level(), 2);
    QTest::mouseClick(w.chkLock1, Qt::LeftButton);
    EXPECT_EQ(Boxes(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(Level(), 0);
    QTest::mouseClick(w.chkLock2, Qt::LeftButton);
    EXPECT_EQ(Boxes(), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(Level(), 2);
}

TEST_F(PanelTest, LockBoxesSetByTheProgrammerFollowTheRules)
{
    TfrmMain& w = Open();
    // A lock read of bits 1 and 3 without 2, in the order 1, 2, 3.
    w.SetLockBox(1, true);
    w.SetLockBox(2, false);
    w.SetLockBox(3, true);
    EXPECT_EQ(Boxes(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(Level(), 3);
    EXPECT_TRUE(w.LockBox(2));
    // Setting a box to the state it has changes nothing.
    w.SetLockBox(3, true);
    EXPECT_EQ(Level(), 3);
    w.SetLockBox(2, false);
    EXPECT_EQ(Boxes(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(Level(), 1);
    EXPECT_FALSE(w.LockBox(3));
    // A box changed by code runs its rule like a click.
    w.chkLock3->setChecked(true);
    EXPECT_EQ(Boxes(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(Level(), 3);
}

QByteArray Resource(const char* path)
{
    QFile file(QString::fromLatin1(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    return file.readAll();
}

TEST_F(PanelTest, JpegPicturesDecodeWithLibjpeg)
{
    Open(); // registers the pictures
    QString error;
    const QImage chip = DecodeJpeg(Resource(":/images/chip.jpg"), &error);
    ASSERT_FALSE(chip.isNull()) << error.toStdString();
    EXPECT_EQ(chip.size(), QSize(258, 130));
    // Blue sky above, the black chip body in the middle.
    const QColor sky = chip.pixelColor(4, 4);
    EXPECT_GT(sky.blue(), sky.red() + 40);
    EXPECT_LT(qGray(chip.pixel(129, 80)), 60);

    const QImage about = DecodeJpeg(Resource(":/images/about.jpg"), &error);
    EXPECT_EQ(about.size(), QSize(258, 162));
}

TEST(Jpeg, DamagedDataIsRefusedWithAReason)
{
    QString error;
    EXPECT_TRUE(DecodeJpeg(QByteArray(), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    error.clear();
    EXPECT_TRUE(DecodeJpeg(QByteArray("This is no picture at all"), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    // A JPEG start marker followed by rubbish.
    QByteArray bad("\xFF\xD8\xFF\xE0", 4);
    bad += QByteArray(200, '\x17');
    error.clear();
    EXPECT_TRUE(DecodeJpeg(bad, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
}

TEST(Jpeg, CutShortPictureDecodesAsFarAsItGoes)
{
    QFile file(QString::fromLatin1(QVX_SOURCE_DIR "/ui/images/chip.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    for (qsizetype size : {qsizetype(2), qsizetype(100), whole.size() / 2, whole.size() - 10}) {
        QString error;
        const QImage image = DecodeJpeg(whole.left(size), &error);
        if (image.isNull())
            EXPECT_FALSE(error.isEmpty()) << size;
        else
            EXPECT_EQ(image.size(), QSize(258, 130)) << size;
    }
}

} // namespace
} // namespace qvx::test
