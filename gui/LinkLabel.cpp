#include "gui/LinkLabel.h"

#include "desktop/ShellOpen.h"

#include <QEnterEvent>
#include <QMouseEvent>

#include <utility>

TShellLink::TShellLink(std::shared_ptr<IShellOpen> shell, QWidget* parent)
    : QLabel(parent)
    , FShell(shell ? std::move(shell) : std::make_shared<TShellOpen>())
    , FFocusFont(font())
    , FFocusColor(palette().color(QPalette::WindowText))
    , FSavedFont(font())
    , FSavedPalette(palette())
{
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
}

void TShellLink::SetLink(const QString& link)
{
    FLink = link.left(MaxLinkLength);
    setToolTip(FLink);
}

void TShellLink::Click()
{
    if (!FLink.isEmpty())
        FShell->Open(FLink, {});
}

// A second enter without a leave between them must not save the focus font as the normal one.
void TShellLink::enterEvent(QEnterEvent* event)
{
    QLabel::enterEvent(event);
    if (FHovered)
        return;
    FHovered = true;
    FSavedFont = font();
    FSavedPalette = palette();
    QPalette focusPalette = FSavedPalette;
    focusPalette.setColor(QPalette::WindowText, FFocusColor);
    setFont(FFocusFont);
    setPalette(focusPalette);
    Q_EMIT OnMouseEnter();
}

void TShellLink::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    if (!FHovered)
        return;
    FHovered = false;
    setFont(FSavedFont);
    setPalette(FSavedPalette);
    Q_EMIT OnMouseLeave();
}

// A click is a press and a release of the left button on the label, as with a button.
void TShellLink::mousePressEvent(QMouseEvent* event)
{
    FPressed = event->button() == Qt::LeftButton;
    event->accept();
}

void TShellLink::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = FPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    FPressed = false;
    event->accept();
    if (click)
        Click();
}
