#pragma once

#include <QLabel>

// A one-line label that shows as much of its text as its width allows, ending in "...", and
// its text as markup never. While its text is cut, resting the pointer on it shows the whole
// text, unless the label has a tooltip of its own, which it shows instead.
class TElidingLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TElidingLabel(QWidget* parent = nullptr);

    // Whether the text is wider than the label.
    bool Elided() const;
    // What resting the pointer on the label shows: its own tooltip, else the whole text while
    // it is cut, else nothing.
    QString ToolTipText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// Places one row of the preview pane's title block: first (a value label, where it stands),
// 10 pixels, the caption, captionGap pixels, second (a value label). The values keep the
// widths of their texts while both fit before right; otherwise they share the room, the
// shorter keeping its width when it needs no more than half. A hidden second value leaves the
// room to the first.
void LayOutTitleRow(QLabel* first, QLabel* caption, QLabel* second, int captionGap, int right);
