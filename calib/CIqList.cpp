#include "calib/CIqList.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

const QColor kFrequencyText(0xFF, 0xFF, 0xFF);
const QColor kFrequencyBackground(0xA0, 0xA0, 0xA0);
const QColor kCorrectionText(0x5C, 0x5C, 0x5C);
const QColor kCorrectionBackground(0xFF, 0xFF, 0xFF);
const QColor kGridLine(0xC8, 0xC8, 0xC8);

// Paints a cell in its column's colours, with the grid line on its right and
// bottom edges. A selected row keeps the usual highlight so it can be seen.
class IqCellDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem o(option);
        initStyleOption(&o, index);
        const bool frequency = index.column() == CIqList::FrequencyColumn;
        QColor text = frequency ? kFrequencyText : kCorrectionText;
        QColor background = frequency ? kFrequencyBackground : kCorrectionBackground;
        if (o.state & QStyle::State_Selected) {
            text = o.palette.color(QPalette::HighlightedText);
            background = o.palette.color(QPalette::Highlight);
        }
        painter->save();
        painter->fillRect(o.rect, background);
        painter->setFont(o.font);
        painter->setPen(text);
        painter->drawText(o.rect.adjusted(2, 0, -2, 0), Qt::AlignCenter, o.text);
        painter->setPen(kGridLine);
        painter->drawLine(o.rect.topRight(), o.rect.bottomRight());
        painter->drawLine(o.rect.bottomLeft(), o.rect.bottomRight());
        painter->restore();
    }
};

} // namespace

CIqList::CIqList(QWidget *parent) : QTreeWidget(parent)
{
    SetUp(this);
}

void CIqList::SetUp(QTreeWidget *list)
{
    if (list->objectName().isEmpty())
        list->setObjectName(QStringLiteral("iqList"));
    list->setAccessibleName(QStringLiteral("I/Q calibration"));
    list->setColumnCount(4);
    // The hidden first column must take no room at all; with the default
    // minimum the header still keeps a gap for it.
    list->header()->setMinimumSectionSize(0);
    list->setHeaderLabels(
        {QString(), QStringLiteral("Freq."), QStringLiteral("dAmp"), QStringLiteral("dPhi")});
    for (int c = 0; c < 4; ++c) {
        list->headerItem()->setTextAlignment(c, c == HiddenColumn ? Qt::AlignLeft | Qt::AlignVCenter
                                                                  : Qt::AlignCenter);
        list->setColumnWidth(c, kColumnWidths[c]);
    }
    list->setColumnHidden(HiddenColumn, true);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFocusPolicy(Qt::StrongFocus);
    list->setItemDelegate(new IqCellDelegate(list));
}

QRect CIqList::CellRect(const QTreeWidget *list, int row, int column)
{
    if (row < 0 || row >= list->topLevelItemCount())
        return {};
    return list->visualRect(list->model()->index(row, column));
}

void CIqList::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Only the left button acts: a right or middle double-click must neither
    // retune the modulator nor open an editor.
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mouseDoubleClickEvent(event);
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    emit cellDoubleClicked(index.isValid() ? index.row() : -1,
                           index.isValid() ? index.column() : -1);
    event->accept();
}

void CIqList::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        if (current.isValid()) {
            emit cellDoubleClicked(current.row(),
                                   current.column() == PhiColumn ? PhiColumn : AmpColumn);
            event->accept();
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
}

void FillIqList(QTreeWidget *list, const IqCalibrationTable &table)
{
    const int rows = std::clamp(table.rowCount, 0, kIqMaxRows);
    while (list->topLevelItemCount() > rows)
        delete list->takeTopLevelItem(0);
    while (list->topLevelItemCount() < rows)
        list->insertTopLevelItem(0, new QTreeWidgetItem(QStringList{QString()}));
    for (int i = 0; i < rows; ++i) {
        QTreeWidgetItem *item = list->topLevelItem(i);
        const IqCalibrationRow &row = table.rows[size_t(i)];
        const int values[3] = {row.frequencyMHz, row.dAmp, row.dPhi};
        for (int c = 0; c < 3; ++c) {
            item->setText(c + 1, QString::number(values[c]));
            item->setTextAlignment(c + 1, Qt::AlignCenter);
        }
    }
}
