#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>

#include <memory>

class IShellOpen;

// The link label: a text label that works as a link. It shows its focus font and colour while
// the mouse is over it and hands its Link to the desktop's open service (IShellOpen) when
// clicked; the windows make theirs with Controls::Link.
class TShellLink : public QLabel
{
    Q_OBJECT

public:
    static constexpr int MaxLinkLength = 255;

    // shell opens the link (the desktop's own when empty).
    explicit TShellLink(std::shared_ptr<IShellOpen> shell = {}, QWidget* parent = nullptr);

    // The font, and its colour, shown while the mouse is over the label; setting one copies it.
    QFont FocusFont() const { return FFocusFont; }
    void SetFocusFont(const QFont& font) { FFocusFont = font; }
    QColor FocusColor() const { return FFocusColor; }
    void SetFocusColor(const QColor& color) { FFocusColor = color; }
    // What a click opens: a web or "mailto:" address, a document or a program. Longer texts are
    // cut to MaxLinkLength characters.
    QString Link() const { return FLink; }
    void SetLink(const QString& link);

    // Hands Link to the open service; an empty Link does nothing.
    void Click();

Q_SIGNALS:
    // After the label switched to the focus font.
    void OnMouseEnter();
    // After the label switched back to the font it had when the mouse entered.
    void OnMouseLeave();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<IShellOpen> FShell;
    QFont FFocusFont;
    QColor FFocusColor;
    QString FLink;
    // The label's look before the mouse came over it, restored when it leaves.
    QFont FSavedFont;
    QPalette FSavedPalette;
    bool FHovered = false;
    bool FPressed = false;
};
