// The hex view: the whole 64 KB code buffer as a grid of 16 bytes a row (or
// the first bytes of a buffer only, as the data memory's 2 KB).
//
// The grid has 17 columns (the row's address, then bytes 0 to F) and 4097
// rows: a fixed header row ("Addr", "00" to "0F") over 4096 rows of the
// buffer, 0000 to FFF0. The header row is the view's horizontal header, so
// it stays in place when the grid scrolls down and moves with it sideways;
// the address column scrolls like the data. The model keeps its own copy of
// the buffer, taken by Show(), so the view shows exactly what the last redraw
// saw, whatever happens to the buffer afterwards.
#pragma once

#include "CodeBuffer.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QTableView>

#include <array>
#include <memory>

namespace qvx {

inline constexpr int kHexColumns = 17;
inline constexpr int kHexRows = 4097; // header row included
inline constexpr int kAddressColumnWidth = 32;
inline constexpr int kByteColumnWidth = 18;
inline constexpr int kHexRowHeight = 18;

class HexModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Shows the first `bytes` bytes of a buffer (a multiple of 16).
    explicit HexModel(QObject* parent = nullptr, int32_t bytes = kBufferSize);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Takes a copy of the buffer's digits and tells the view that every byte
    // cell changed.
    void Show(const CodeBuffer& buffer);

    // The text of a cell in grid terms: column 0 to 16, row 0 (the header)
    // to 4096 (to the last row shown).
    QString CellText(int column, int row) const;

private:
    int32_t bytes_;
    struct Digits {
        std::array<char, kBufferSize> High{};
        std::array<char, kBufferSize> Low{};
    };
    std::unique_ptr<Digits> digits_;
};

// The header row, drawn without the side margins that would cut a two-digit
// label in an 18-pixel column.
class HexHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit HexHeader(QWidget* parent = nullptr);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

class HexGrid : public QTableView {
    Q_OBJECT
public:
    explicit HexGrid(QWidget* parent = nullptr, int32_t bytes = kBufferSize);

    HexModel& Model() { return model_; }
    const HexModel& Model() const { return model_; }
    QString CellText(int column, int row) const { return model_.CellText(column, row); }

private:
    HexModel model_;
};

} // namespace qvx
