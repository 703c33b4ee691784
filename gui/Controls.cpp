#include "gui/Controls.h"

#include "gui/LinkLabel.h"

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace Controls {

QLabel* Label(const char* name, const QString& text, QWidget* parent)
{
    auto* label = Named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* Note(const char* name, const QString& text, QWidget* parent)
{
    QLabel* label = Label(name, text, parent);
    label->setWordWrap(true);
    return label;
}

TShellLink* Link(const char* name, const QString& text, const QString& address, const QFont& font,
                 const std::shared_ptr<IShellOpen>& shell, QWidget* parent)
{
    auto* link = Named(new TShellLink(shell, parent), name);
    link->setText(text);
    link->setFont(font);
    QFont focusFont = font;
    focusFont.setUnderline(true);
    link->SetFocusFont(focusFont);
    link->SetFocusColor(QColor(0, 0, 255));
    link->SetLink(address);
    return link;
}

QFrame* Panel(const char* name, QWidget* parent)
{
    return Named(new QFrame(parent), name);
}

QFrame* Bevel(const char* name, QWidget* parent)
{
    QFrame* bevel = Panel(name, parent);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    return bevel;
}

QPushButton* Button(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = Named(new QPushButton(caption, parent), name);
    button->setMinimumSize(ButtonSize);
    button->setAutoDefault(false);
    return button;
}

QPushButton* FixedButton(const char* name, const QString& caption, QWidget* parent)
{
    QPushButton* button = Button(name, caption, parent);
    button->setFixedSize(ButtonSize);
    return button;
}

} // namespace Controls
