#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>

#include <cstdint>
#include <functional>
#include <memory>

class QMenu;
class QTimer;

// The desktop's notification area as the tray icon sees it: one icon with a tooltip and a
// menu, and the clicks on it. The program uses the system tray; tests put a fake in its place.
class TTrayArea : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether the desktop has a notification area at all.
    virtual bool Available() const = 0;
    // Places the icon in the area; false when the area refused it.
    virtual bool Add(const QIcon& icon, const QString& tip) = 0;
    // Changes the image and tooltip of an icon already placed; false when refused.
    virtual bool Modify(const QIcon& icon, const QString& tip) = 0;
    virtual void Remove() = 0;
    // The menu the area opens on a right click by itself; none for no menu.
    virtual void SetMenu(QMenu* menu) = 0;
    // Where the icon is on the screen; empty when the area does not tell.
    virtual QRect Geometry() const = 0;
    // Shows a message in a balloon of the area's own beside the icon; false when the area has
    // none.
    virtual bool ShowMessage(const QString& /*title*/, const QString& /*text*/,
                             const QIcon& /*icon*/)
    {
        return false;
    }
    // Whether the area reports a click on the icon as one activation and never as a double
    // click, as a StatusNotifierItem host does.
    virtual bool SingleActivation() const { return false; }

Q_SIGNALS:
    void Activated(QSystemTrayIcon::ActivationReason reason);
    void AvailableChanged(bool available);
    // The user clicked the balloon of ShowMessage.
    void MessageClicked();
};

// The program's icon in the desktop's notification area: its tooltip shows the latest status,
// it blinks between its frames while mail waits, a right click opens its menu and a double
// click runs the action the user chose.
class TTrayIcon : public QObject
{
    Q_OBJECT

public:
    // Tooltips longer than this are cut.
    static constexpr int MaxHintLength = 63;

    // The icon lives in the system tray unless a test gives it another area.
    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Removes the icon from the area used so far and shows it in this one, if Active.
    void SetArea(std::unique_ptr<TTrayArea> area);
    TTrayArea& Area() const { return *FArea; }
    // Whether the desktop has a notification area, so that the icon can be seen.
    bool Available() const { return FArea->Available(); }

    bool Active() const { return FActive; }
    void SetActive(bool active);
    // While false, clicks on the icon are ignored and it opens no menu.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    QString Hint() const { return FHint; }
    // The same text again leaves the area alone.
    void SetHint(const QString& hint);
    // The tooltip made of Hint: the text before the first vertical bar, cut to MaxHintLength.
    QString ShownHint() const;
    QIcon Icon() const { return FIcon; }
    void SetIcon(const QIcon& icon);
    QList<QIcon> Icons() const { return FIcons; }
    void SetIcons(const QList<QIcon>& icons);
    bool Animated() const { return FAnimated; }
    // Blinks through Icons instead of showing Icon; stays false while Icons is empty.
    void SetAnimated(bool animated);
    // Milliseconds between two frames of the animation.
    std::uint16_t Interval() const { return FInterval; }
    void SetInterval(std::uint16_t interval);
    QMenu* PopupMenu() const;
    void SetPopupMenu(QMenu* menu);
    // Run by a double click, unless the menu has an enabled default item to run instead.
    std::function<void()> OnDblClick;
    // A small error mark on every image, still or blinking.
    bool Badge() const { return FBadge; }
    void SetBadge(bool badge);
    // A message in the area's own balloon beside the icon; false when the icon is not shown
    // or the area has no balloon.
    bool ShowMessage(const QString& title, const QString& text);

    // Whether the area holds the icon now.
    bool Registered() const { return FRegistered; }
    // Frame of the animation shown now: -1 before the first animation.
    int FrameIndex() const { return FFrameIndex; }
    // Shows the next frame, as the animation does every Interval milliseconds.
    void NextFrame();
    // The image the area should show now; null when there is none.
    QIcon CurrentImage() const;

    void ShowIcon();
    void HideIcon();

Q_SIGNALS:
    // The desktop gained or lost its notification area.
    void AvailableChanged(bool available);
    // The user clicked the balloon of ShowMessage.
    void MessageClicked();

private:
    void UpdateIcon();
    void UpdateMenu();
    void UpdateTimer();
    void AreaActivated(QSystemTrayIcon::ActivationReason reason);
    void DoubleClick();
    void UpdateBadgedImages();

    std::unique_ptr<TTrayArea> FArea;
    bool FActive = true;
    bool FEnabled = true;
    QString FHint;
    QIcon FIcon;
    QList<QIcon> FIcons;
    bool FBadge = false;
    // Icon and Icons with the error mark, made once so that each frame keeps its image.
    QIcon FBadgedIcon;
    QList<QIcon> FBadgedIcons;
    bool FAnimated = false;
    std::uint16_t FInterval = 150;
    QPointer<QMenu> FPopupMenu;
    bool FRegistered = false;
    int FFrameIndex = -1;
    QTimer* FAnimationTimer;
    // When the last plain click came, for areas that report a double click as two of them;
    // for areas of single activations, when the last one ran the action.
    QElapsedTimer FLastTrigger;
};
