#pragma once

#include <QSize>
#include <QString>

#include <memory>

class IShellOpen;
class QFont;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;
class TShellLink;

// The controls every window is built of. Each carries its object name, the name the window
// keeps it under as a member, so that tests and accessibility tools find it.
namespace Controls {

// The size of a push button; a button made by Button grows beyond it for a longer caption.
inline constexpr QSize ButtonSize(75, 25);

// Gives an object its name.
template <class TObject> TObject* Named(TObject* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// A label that shows its text as it is, never as markup.
QLabel* Label(const char* name, const QString& text, QWidget* parent);
// A label whose text wraps at the width it is given.
QLabel* Note(const char* name, const QString& text, QWidget* parent);
// A link in the given font that is underlined and blue while the mouse is over it; a click
// hands the address to shell.
TShellLink* Link(const char* name, const QString& text, const QString& address, const QFont& font,
                 const std::shared_ptr<IShellOpen>& shell, QWidget* parent);
// A frame without a border, to hold other controls.
QFrame* Panel(const char* name, QWidget* parent);
// The sunken line between a window's content and its buttons.
QFrame* Bevel(const char* name, QWidget* parent);
// A push button of at least ButtonSize. Enter presses the window's default button, not the
// button that has the focus.
QPushButton* Button(const char* name, const QString& caption, QWidget* parent);
// A button as Button, but of exactly ButtonSize, for rows that line buttons up by their edges.
QPushButton* FixedButton(const char* name, const QString& caption, QWidget* parent);

} // namespace Controls
