#include "gui/SplitterBar.h"

#include <QMouseEvent>

TSplitterBar::TSplitterBar(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::SplitVCursor);
    setFixedHeight(3);
}

void TSplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        FGrabOffset = qRound(event->position().y());
    else
        QWidget::mousePressEvent(event);
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (FGrabOffset >= 0 && (event->buttons() & Qt::LeftButton))
        Q_EMIT Dragged(mapToParent(event->position().toPoint()).y() - FGrabOffset);
    else
        QWidget::mouseMoveEvent(event);
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FGrabOffset < 0) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    Q_EMIT Dragged(mapToParent(event->position().toPoint()).y() - FGrabOffset);
    FGrabOffset = -1;
    Q_EMIT Moved();
}
