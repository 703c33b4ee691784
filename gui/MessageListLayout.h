#pragma once

#include "config/ListSort.h"

#include <QObject>

#include <vector>

class QModelIndex;
class QTreeWidget;

// How the message list fits its window and serves its reader: one column takes the width the
// others leave, and every column keeps its design width as its minimum; columns of short texts
// (account, date, size) grow to fit their texts until the user sizes them by hand; a click on
// a column's header sorts by it, a second click the other way round; a cell whose text is cut
// shows it whole as a tooltip.
class TMessageListLayout : public QObject
{
    Q_OBJECT

public:
    struct TColumn
    {
        int MinimumWidth = 0;
        // Grows to fit the texts of new rows, up to MaxFittedWidth.
        bool FitsText = false;
    };
    static constexpr int MaxFittedWidth = 240;

    // The list's columns are set up already; columns holds one entry per column.
    TMessageListLayout(QTreeWidget* list, int fillColumn, std::vector<TColumn> columns);

    // The sort as the store keeps it, by the column's caption.
    TListSort Sort() const;
    // Sorts by the column of that caption; list order for an unknown or empty caption.
    void SetSort(const TListSort& sort);
    // Gives the fill column what the others leave of the list's width.
    void Refit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SectionResized(int column, int oldWidth, int newWidth);
    void RowsInserted(const QModelIndex& parent, int first, int last);
    void Resize(int column, int width);

    QTreeWidget* FList;
    int FFill;
    std::vector<TColumn> FColumns;
    std::vector<bool> FSizedByUser;
    bool FAdjusting = false;
    bool FDragging = false;
};
