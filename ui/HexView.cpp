#include "HexView.h"

#include <QApplication>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace qvx {

namespace {

QString AddressLabel(int address)
{
    return QStringLiteral("%1").arg(address, 4, 16, QLatin1Char('0')).toUpper();
}

QString HeaderLabel(int column)
{
    return column == 0 ? QStringLiteral("Addr") : QStringLiteral("0") + QString::number(column - 1, 16).toUpper();
}

// Draws a cell's text in the middle of its cell, with no margin, so that two
// digits fit the narrow byte columns and are never elided.
class HexCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(opt.rect, Qt::AlignCenter, text);
        painter->restore();
    }
};

} // namespace

HexModel::HexModel(QObject* parent, int32_t bytes)
    : QAbstractTableModel(parent), bytes_(std::clamp<int32_t>(bytes / 16 * 16, 16, kBufferSize)),
      digits_(std::make_unique<Digits>())
{
}

int HexModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : bytes_ / 16; }

int HexModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kHexColumns; }

QVariant HexModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return CellText(index.column(), index.row() + 1);
}

QVariant HexModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return CellText(section, 0);
    return {};
}

Qt::ItemFlags HexModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void HexModel::Show(const CodeBuffer& buffer)
{
    digits_->High = buffer.CodeHigh;
    digits_->Low = buffer.CodeLow;
    emit dataChanged(index(0, 1), index(rowCount() - 1, kHexColumns - 1), {Qt::DisplayRole});
}

QString HexModel::CellText(int column, int row) const
{
    if (column < 0 || column >= kHexColumns || row < 0 || row > bytes_ / 16)
        return {};
    if (row == 0)
        return HeaderLabel(column);
    if (column == 0)
        return AddressLabel((row - 1) * 16);
    const int address = (row - 1) * 16 + (column - 1);
    QString text;
    // The characters as stored; an entry never written yet holds none.
    for (char c : {digits_->High[address], digits_->Low[address]})
        if (c != '\0')
            text += QChar::fromLatin1(c);
    return text;
}

HexHeader::HexHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

void HexHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = rect;
    opt.section = logicalIndex;
    opt.position = QStyleOptionHeader::Middle;
    style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);
    painter->save();
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->drawText(rect, Qt::AlignCenter, model()->headerData(logicalIndex, orientation()).toString());
    painter->restore();
}

HexGrid::HexGrid(QWidget* parent, int32_t bytes) : QTableView(parent), model_(nullptr, bytes)
{
    setHorizontalHeader(new HexHeader(this));
    setModel(&model_);
    setItemDelegate(new HexCellDelegate(this));

    QHeaderView* top = horizontalHeader();
    top->setMinimumSectionSize(1);
    top->setSectionResizeMode(QHeaderView::Fixed);
    top->setDefaultSectionSize(kByteColumnWidth);
    top->resizeSection(0, kAddressColumnWidth);
    top->setFixedHeight(kHexRowHeight);
    top->setHighlightSections(false);
    top->setSectionsClickable(false);

    QHeaderView* side = verticalHeader();
    side->setMinimumSectionSize(1);
    side->setSectionResizeMode(QHeaderView::Fixed);
    side->setDefaultSectionSize(kHexRowHeight);
    side->hide();

    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
}

} // namespace qvx
