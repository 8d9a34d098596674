// The about window.
#include "ABOUT_QVX.h"
#include "Fonts.h"
#include "PictureBox.h"
#include "WindowFixture.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace qvx::test {
namespace {

class AboutTest : public WindowTest {
protected:
    TfrmAboutQvx& OpenBoth()
    {
        Open();
        about = std::make_unique<TfrmAboutQvx>(window.get());
        window->SetAboutWindow(about.get());
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *about;
    }
    // Chooses "About" and, once the window is up, notes where it is and
    // closes it with `close`.
    QRect ShowAbout(const std::function<void()>& close)
    {
        QRect seen;
        bool modal = false, visible = false;
        QTimer::singleShot(0, about.get(), [&] {
            visible = about->isVisible();
            modal = QApplication::activeModalWidget() == about.get();
            seen = about->frameGeometry();
            close();
        });
        window->About1->trigger();
        EXPECT_TRUE(visible);
        EXPECT_TRUE(modal);
        EXPECT_FALSE(about->isVisible());
        return seen;
    }
    void TearDown() override
    {
        if (window)
            window->SetAboutWindow(nullptr);
        about.reset();
    }

    std::unique_ptr<TfrmAboutQvx> about;
};

TEST_F(AboutTest, LaidOutAsDesigned)
{
    TfrmAboutQvx& a = OpenBoth();
    EXPECT_EQ(a.windowTitle(), QStringLiteral("About QVX"));
    EXPECT_EQ(a.size(), QSize(400, 186));
    EXPECT_EQ(a.minimumSize(), a.maximumSize());
    EXPECT_FALSE(a.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(a.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(a.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(a.isVisible()); // created hidden

    struct Control {
        QWidget* widget;
        const char* name;
        QRect geometry;
    };
    for (const Control& c : {Control{a.Label1, "Label1", {216, 8, 176, 16}},
                             Control{a.Image1, "Image1", {8, 24, 129, 81}},
                             Control{a.Memo1, "Memo1", {152, 24, 241, 129}},
                             Control{a.Label2, "Label2", {8, 112, 132, 40}},
                             Control{a.Label4, "Label4", {3, 160, 140, 13}},
                             Control{a.Label3, "Label3", {153, 160, 62, 13}},
                             Control{a.btnOk, "btnOk", {312, 156, 75, 25}}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.widget->objectName(), QString::fromLatin1(c.name));
        EXPECT_EQ(c.widget->geometry(), c.geometry);
    }
    EXPECT_EQ(a.Label2->text(), QStringLiteral("AT89S SERIES"));
    EXPECT_EQ(a.Label4->text(), QStringLiteral("In-System Programming"));
    EXPECT_EQ(a.Label3->text(), QStringLiteral("Version 2.2"));
    EXPECT_EQ(a.btnOk->text(), QStringLiteral("OK"));
    EXPECT_FALSE(a.Label1->text().isEmpty());

    const QColor navy(0, 0, 128);
    for (QLabel* label : {a.Label2, a.Label3, a.Label4}) {
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), navy);
    }
    EXPECT_EQ(a.Label2->font().family(), AngsanaFont().family());
    EXPECT_EQ(a.Label3->font().family(), TahomaFont().family());
    EXPECT_EQ(a.Label3->font().pixelSize(), 11);
    EXPECT_TRUE(a.Label1->font().bold());
    EXPECT_EQ(a.Label1->font().pixelSize(), 13);
    EXPECT_EQ(a.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(a.Image1->Picture().size(), QSize(258, 162));
    // Every label's text fits its box in the font chosen for it.
    for (QLabel* label : {a.Label1, a.Label2, a.Label3, a.Label4})
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
}

TEST_F(AboutTest, TextNamesTheProductVersionDevicesAndPorts)
{
    TfrmAboutQvx& a = OpenBoth();
    const QStringList lines = a.Memo1->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 27);
    EXPECT_EQ(lines[0], QString());
    EXPECT_TRUE(lines[1].contains(QStringLiteral("QVX-ISP")));
    EXPECT_EQ(lines[2], QStringLiteral("PC Based Software (In System Programming)"));
    EXPECT_EQ(lines[3], QString());
    EXPECT_EQ(lines[4], QStringLiteral("Software Version Information"));
    EXPECT_TRUE(lines[5].contains(QStringLiteral("2.2")));
    EXPECT_EQ(lines[6], QStringLiteral("supports the following devices:"));
    EXPECT_EQ(lines[7], QString());
    EXPECT_EQ(lines.mid(8, 7), (QStringList{"AT89S51", "AT89S52", "AT89S53", "AT89S8252", "AT89S8253", "AT89S2051",
                                            "AT89S4051"}));
    EXPECT_EQ(lines[15], QString());
    EXPECT_EQ(lines[16], QStringLiteral("It also supports the use of LPT1 and LPT2."));
    EXPECT_EQ(lines[17], QString());
    EXPECT_EQ(lines.mid(18, 8), (QStringList{"Cables it drives:", "the PC parallel port, LPT1 and LPT2",
                                             "FT232R USB cable", "GPIO lines", "Arduino as ISP", "USBasp",
                                             "a simulated cable and chip", ""}));
    EXPECT_FALSE(lines[26].isEmpty()); // the notice's heading
    EXPECT_EQ(a.Label1->text(), QStringLiteral("QVX-ISP")); // no web address
}

TEST_F(AboutTest, TabGoesFromOkToTheText)
{
    TfrmAboutQvx& a = OpenBoth();
    QWidget* next = a.btnOk->nextInFocusChain();
    while (next != a.btnOk && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, a.Memo1);
    EXPECT_TRUE(a.Memo1->focusPolicy() & Qt::TabFocus);
}

TEST_F(AboutTest, AboutShowsItModallyCentredAndOkHidesIt)
{
    TfrmAboutQvx& a = OpenBoth();
    window->move(100, 200);
    const QRect main = window->frameGeometry();
    const QRect seen = ShowAbout([&] { QTest::mouseClick(a.btnOk, Qt::LeftButton); });
    EXPECT_EQ(seen.left(), main.left() + main.width() / 2 - seen.width() / 2);
    EXPECT_EQ(seen.top(), main.top() + main.height() / 2 - seen.height() / 2);
    EXPECT_EQ(seen.left(), 100 + 328 - 200);
}

TEST_F(AboutTest, CloseBoxHidesItAndItOpensAgainCentredOnTheMovedWindow)
{
    TfrmAboutQvx& a = OpenBoth();
    ShowAbout([&] { a.close(); });
    window->move(300, 150);
    QCoreApplication::processEvents();
    const QRect main = window->frameGeometry();
    const QRect seen = ShowAbout([&] { a.btnOk->click(); });
    EXPECT_EQ(seen.left(), main.left() + main.width() / 2 - seen.width() / 2);
    EXPECT_EQ(seen.top(), main.top() + main.height() / 2 - seen.height() / 2);
}

TEST_F(AboutTest, CentredOnANarrowedMainWindowItReachesPastBothSides)
{
    TfrmAboutQvx& a = OpenBoth();
    window->setFixedWidth(294 - (window->frameGeometry().width() - window->width()));
    window->move(400, 300);
    QCoreApplication::processEvents();
    const QRect main = window->frameGeometry();
    ASSERT_EQ(main.width(), 294);
    const QRect seen = ShowAbout([&] { a.btnOk->click(); });
    EXPECT_EQ(seen.left(), 400 + 147 - seen.width() / 2);
    EXPECT_LT(seen.left(), main.left());
    EXPECT_GT(seen.right(), main.right());
}

// Odd widths: the halves are truncated, each on its own.
TEST_F(AboutTest, CentringTruncatesEachHalf)
{
    TfrmAboutQvx& a = OpenBoth();
    window->setFixedWidth(295 - (window->frameGeometry().width() - window->width()));
    window->move(11, 13);
    a.setFixedSize(401, 187);
    QCoreApplication::processEvents();
    const QRect main = window->frameGeometry();
    ASSERT_EQ(main.width(), 295);
    const QRect seen = ShowAbout([&] { a.btnOk->click(); });
    EXPECT_EQ(seen.left(), 11 + 147 - seen.width() / 2);
    EXPECT_EQ(seen.top(), 13 + main.height() / 2 - seen.height() / 2);
    EXPECT_EQ(seen.left() + seen.width() / 2, 11 + 147); // 295 / 2 = 147, not 147.5 rounded up
}

} // namespace
} // namespace qvx::test
