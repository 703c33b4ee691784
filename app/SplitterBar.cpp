#include "SplitterBar.h"

#include <QMouseEvent>

TSplitterBar::TSplitterBar(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::SplitVCursor);
    setFixedHeight(3);
}

void TSplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    FGrabOffset = qRound(event->position().y());
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (FGrabOffset < 0 || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    Q_EMIT Dragged(mapToParent(event->position().toPoint()).y() - FGrabOffset);
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FGrabOffset < 0)
        return QWidget::mouseReleaseEvent(event);
    Q_EMIT Dragged(mapToParent(event->position().toPoint()).y() - FGrabOffset);
    FGrabOffset = -1;
    Q_EMIT Moved();
}
