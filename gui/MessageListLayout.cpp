#include "gui/MessageListLayout.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

namespace {

// The room the style leaves around a cell's text, on each side.
int TextMargin(const QWidget* widget)
{
    return widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
}

// Shows the whole text of a cell that the column cuts; other cells show their own tooltip.
class TCutCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        const QWidget* widget = cell.widget != nullptr ? cell.widget : view;
        const QRect textArea =
            widget->style()->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);
        const int needed = cell.fontMetrics.horizontalAdvance(cell.text) + 2 * TextMargin(widget);
        if (needed > textArea.width()) {
            QToolTip::showText(event->globalPos(), cell.text, view->viewport(), option.rect);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
};

} // namespace

TMessageListLayout::TMessageListLayout(QTreeWidget* list, int fillColumn,
                                       std::vector<TColumn> columns)
    : QObject(list)
    , FList(list)
    , FFill(fillColumn)
    , FColumns(std::move(columns))
    , FSizedByUser(FColumns.size(), false)
{
    QHeaderView* header = FList->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(FFill, QHeaderView::Fixed);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    // Rows stay in the order the check listed them until the user asks for another.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    FList->setSortingEnabled(true);
    FList->setItemDelegate(new TCutCellDelegate(FList));
    FList->viewport()->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionResized, this, &TMessageListLayout::SectionResized);
    connect(FList->model(), &QAbstractItemModel::rowsInserted, this,
            &TMessageListLayout::RowsInserted);
    for (int column = 0; column < static_cast<int>(FColumns.size()); ++column)
        Resize(column, std::max(FList->columnWidth(column), FColumns[column].MinimumWidth));
    Refit();
}

TListSort TMessageListLayout::Sort() const
{
    const int column = FList->header()->sortIndicatorSection();
    if (column < 0 || column >= FList->columnCount())
        return {};
    return {FList->headerItem()->text(column).toStdString(),
            FList->header()->sortIndicatorOrder() == Qt::DescendingOrder};
}

void TMessageListLayout::SetSort(const TListSort& sort)
{
    const QString caption = QString::fromStdString(sort.Column);
    for (int column = 0; column < FList->columnCount(); ++column) {
        if (!caption.isEmpty() && FList->headerItem()->text(column) == caption) {
            FList->sortByColumn(column, sort.Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
            return;
        }
    }
    FList->header()->setSortIndicator(-1, Qt::AscendingOrder);
}

void TMessageListLayout::Resize(int column, int width)
{
    const bool adjusting = std::exchange(FAdjusting, true);
    FList->setColumnWidth(column, width);
    FAdjusting = adjusting;
}

void TMessageListLayout::Refit()
{
    int others = 0;
    for (int column = 0; column < FList->columnCount(); ++column)
        if (column != FFill && !FList->isColumnHidden(column))
            others += FList->columnWidth(column);
    const int minimum =
        FFill < static_cast<int>(FColumns.size()) ? FColumns[FFill].MinimumWidth : 0;
    Resize(FFill, std::max(minimum, FList->viewport()->width() - others));
}

void TMessageListLayout::SectionResized(int column, int /*oldWidth*/, int newWidth)
{
    if (column == FFill || column >= static_cast<int>(FColumns.size()))
        return;
    if (!FAdjusting && FDragging)
        FSizedByUser[column] = true;
    if (newWidth < FColumns[column].MinimumWidth)
        Resize(column, FColumns[column].MinimumWidth);
    Refit();
}

void TMessageListLayout::RowsInserted(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid())
        return;
    // Rows of new mail turn bold when their check ends: fit the bold text, so that they are
    // not cut then.
    QFont bold = FList->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int margins = 2 * TextMargin(FList) + 2;
    bool grown = false;
    for (int column = 0; column < static_cast<int>(FColumns.size()); ++column) {
        if (!FColumns[column].FitsText || FSizedByUser[column] || column == FFill)
            continue;
        int wanted = FList->columnWidth(column);
        for (int row = first; row <= last; ++row) {
            const QTreeWidgetItem* item = FList->topLevelItem(row);
            if (item != nullptr)
                wanted = std::max(wanted, metrics.horizontalAdvance(item->text(column)) + margins);
        }
        wanted = std::min(wanted, std::max(MaxFittedWidth, FColumns[column].MinimumWidth));
        if (wanted > FList->columnWidth(column)) {
            Resize(column, wanted);
            grown = true;
        }
    }
    if (grown)
        Refit();
}

bool TMessageListLayout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FList->viewport() && event->type() == QEvent::Resize) {
        Refit();
    } else if (watched == FList->header()->viewport()) {
        // A section resized while a button is down on the header is sized by the user.
        if (event->type() == QEvent::MouseButtonPress)
            FDragging = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            FDragging = false;
    }
    return QObject::eventFilter(watched, event);
}
