// The hex view of the code buffer.
#include "HexView.h"
#include "WindowFixture.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace qvx::test {
namespace {

class HexViewTest : public WindowTest {};

TEST_F(HexViewTest, HeaderAndAddressLabelsFrameTheBuffer)
{
    TfrmMain& w = Open();
    const HexGrid& grid = *w.StringGrid1;
    QStringList header;
    for (int c = 0; c < 17; ++c)
        header << grid.CellText(c, 0);
    EXPECT_EQ(header, (QStringList{"Addr", "00", "01", "02", "03", "04", "05", "06", "07", "08", "09", "0A", "0B",
                                   "0C", "0D", "0E", "0F"}));
    // The view's header row shows the same texts.
    for (int c = 0; c < 17; ++c)
        EXPECT_EQ(grid.model()->headerData(c, Qt::Horizontal).toString(), header[c]);
    EXPECT_EQ(grid.CellText(0, 1), QStringLiteral("0000"));
    EXPECT_EQ(grid.CellText(0, 2), QStringLiteral("0010"));
    EXPECT_EQ(grid.CellText(0, 161), QStringLiteral("0A00"));
    EXPECT_EQ(grid.CellText(0, 4096), QStringLiteral("FFF0"));
    for (int r = 1; r <= 4096; ++r)
        ASSERT_EQ(grid.CellText(0, r), QStringLiteral("%1").arg((r - 1) * 16, 4, 16, QLatin1Char('0')).toUpper());
}

TEST_F(HexViewTest, GridGeometry)
{
    TfrmMain& w = Open();
    const HexGrid& grid = *w.StringGrid1;
    EXPECT_EQ(grid.model()->columnCount(), 17);
    EXPECT_EQ(grid.model()->rowCount() + 1, 4097); // the header row is the view's header
    EXPECT_EQ(grid.horizontalHeader()->height(), 18);
    EXPECT_EQ(grid.columnWidth(0), 32);
    for (int c = 1; c < 17; ++c)
        EXPECT_EQ(grid.columnWidth(c), 18);
    for (int r : {0, 1, 2000, 4095})
        EXPECT_EQ(grid.rowHeight(r), 18);
    EXPECT_EQ(grid.size(), QSize(361, 305));
    EXPECT_FALSE(grid.verticalHeader()->isVisible()); // no fixed column
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(grid.model()->flags(grid.model()->index(5, 5)) & Qt::ItemIsEditable);
}

TEST_F(HexViewTest, TypingIntoTheGridChangesNothing)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    HexGrid& grid = *w.StringGrid1;
    grid.setFocus();
    grid.setCurrentIndex(grid.model()->index(0, 1));
    QTest::keyClicks(&grid, "12");
    QTest::keyClick(&grid, Qt::Key_Return);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(grid.model()->index(0, 1)).center());
    QTest::keyClicks(QApplication::focusWidget(), "34");
    EXPECT_EQ(grid.CellText(1, 1), QStringLiteral("FF"));
    EXPECT_EQ(Byte(0), "FF");
}

TEST_F(HexViewTest, ShowsWhatTheLastRedrawSawAndNotLaterChanges)
{
    TfrmMain& w = Open();
    CodeBuffer& b = w.Buffer();
    b.CodeHigh[0x10] = 'A', b.CodeLow[0x10] = 'A';
    b.CodeHigh[0x11] = 'B', b.CodeLow[0x11] = 'B';
    b.CodeHigh[0x12] = 'C', b.CodeLow[0x12] = 'C';
    EXPECT_EQ(Cell(0x10), QStringLiteral("FF")); // not redrawn yet
    QSignalSpy changes(w.StringGrid1->model(), &QAbstractItemModel::dataChanged);
    w.ShowBuffer();
    EXPECT_EQ(changes.count(), 1); // one change notice for the whole grid
    QStringList row2;
    for (int c = 1; c <= 16; ++c)
        row2 << w.StringGrid1->CellText(c, 2);
    EXPECT_EQ(row2, (QStringList{"AA", "BB", "CC", "FF", "FF", "FF", "FF", "FF", "FF", "FF", "FF", "FF", "FF", "FF",
                                 "FF", "FF"}));
    // What the view's model hands to the painter is the same text.
    EXPECT_EQ(w.StringGrid1->model()->index(1, 3).data().toString(), QStringLiteral("CC"));

    b.CodeHigh[0x10] = '0';
    EXPECT_EQ(Cell(0x10), QStringLiteral("AA"));
}

TEST_F(HexViewTest, CellsShowTheStoredCharactersUnchanged)
{
    TfrmMain& w = Open();
    w.Buffer().CodeHigh[0x20] = 'x';
    w.Buffer().CodeLow[0x21] = '?';
    w.ShowBuffer();
    EXPECT_EQ(Cell(0x20), QStringLiteral("xF"));
    EXPECT_EQ(Cell(0x21), QStringLiteral("F?"));
}

TEST_F(HexViewTest, RedrawLeavesTheAddressCounterAtZero)
{
    TfrmMain& w = Open();
    CodeBuffer& b = w.Buffer();
    b.AddrDigit1 = '1', b.AddrDigit2 = '2', b.AddrDigit3 = '3', b.AddrDigit4 = '4';
    w.ShowBuffer();
    EXPECT_EQ(std::string({b.AddrDigit1, b.AddrDigit2, b.AddrDigit3, b.AddrDigit4}), "0000");
}

TEST_F(HexViewTest, LastRowCanBeScrolledToAndShowsTheLastBytes)
{
    TfrmMain& w = Open();
    for (int i = 0; i < 16; ++i) {
        w.Buffer().CodeHigh[0xFFF0 + i] = 'E';
        w.Buffer().CodeLow[0xFFF0 + i] = HexDigitChar(i);
    }
    w.ShowBuffer();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    HexGrid& grid = *w.StringGrid1;
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    const QModelIndex last = grid.model()->index(4095, 16);
    EXPECT_EQ(grid.rowAt(grid.viewport()->height() - 2), 4095);
    EXPECT_TRUE(grid.viewport()->rect().contains(grid.visualRect(last).center()));
    EXPECT_EQ(grid.model()->index(4095, 0).data().toString(), QStringLiteral("FFF0"));
    EXPECT_EQ(last.data().toString(), QStringLiteral("EF"));
    EXPECT_EQ(grid.CellText(1, 4096), QStringLiteral("E0"));
}

TEST_F(HexViewTest, AllSeventeenColumnsFitTheGridWidth)
{
    TfrmMain& w = Open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const HexGrid& grid = *w.StringGrid1;
    EXPECT_LE(grid.columnViewportPosition(16) + grid.columnWidth(16), grid.viewport()->width());
    EXPECT_EQ(grid.horizontalScrollBar()->maximum(), 0);
}

} // namespace
} // namespace qvx::test
