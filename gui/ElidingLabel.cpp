#include "gui/ElidingLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

#include <algorithm>

TElidingLabel::TElidingLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

bool TElidingLabel::Elided() const
{
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QString TElidingLabel::ToolTipText() const
{
    if (!toolTip().isEmpty())
        return toolTip();
    return Elided() ? text() : QString();
}

bool TElidingLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (Elided())
            QToolTip::showText(help->globalPos(), text(), this, rect());
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void TElidingLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shown, foregroundRole());
}

void LayOutTitleRow(QLabel* first, QLabel* caption, QLabel* second, int captionGap, int right)
{
    constexpr int Gap = 10;
    const int firstWanted = first->sizeHint().width();
    const int secondWanted = second->isHidden() ? 0 : second->sizeHint().width();
    const int room = std::max(0, right - first->x() - Gap - caption->width() - captionGap);
    int firstWidth = firstWanted;
    int secondWidth = secondWanted;
    if (firstWanted + secondWanted > room) {
        const int half = room / 2;
        if (firstWanted <= half) {
            secondWidth = room - firstWanted;
        } else if (secondWanted <= half) {
            firstWidth = room - secondWanted;
        } else {
            firstWidth = half;
            secondWidth = room - half;
        }
    }
    const int height = first->sizeHint().height();
    first->resize(firstWidth, height);
    caption->move(first->x() + firstWidth + Gap, caption->y());
    second->setGeometry(caption->x() + caption->width() + captionGap, second->y(),
                        std::max(0, secondWidth), second->sizeHint().height());
}
