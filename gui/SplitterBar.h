#pragma once

#include <QWidget>

// A thin bar between two panes stacked top to bottom that the user drags to move the border.
// It only reports: the window decides how far the panes may go.
class TSplitterBar : public QWidget
{
    Q_OBJECT

public:
    explicit TSplitterBar(QWidget* parent = nullptr);

Q_SIGNALS:
    // The top the bar is being dragged to, in its parent's coordinates.
    void Dragged(int top);
    // The drag has ended.
    void Moved();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int FGrabOffset = -1;
};
