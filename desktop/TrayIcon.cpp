#include "desktop/TrayIcon.h"

#include "desktop/Icons.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// How often the system tray is asked whether it is there: a panel may start after the
// program, or go and come back. The question may cross the session bus, so not too often.
constexpr int AvailabilityPollInterval = 3000;
// How long a balloon stays, in milliseconds.
constexpr int BalloonTimeout = 10000;
// How long the panel's StatusNotifierWatcher may take to answer, in milliseconds.
constexpr int WatcherTimeout = 2000;

// Qt places the icon as a StatusNotifierItem exactly when the session bus has a watcher with a
// host registered at the first tray icon, and keeps to that choice; the same question, asked
// as the area is made, tells how clicks will arrive.
bool StatusNotifierHostOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusInterface properties(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    // A watcher that does not answer at once is no host to rely on.
    properties.setTimeout(WatcherTimeout);
    return properties.property("IsStatusNotifierHostRegistered").toBool();
}

// The notification area of the desktop, through Qt's tray icon (a StatusNotifierItem on a
// desktop that offers it, an embedded window otherwise). Qt places the icon by itself once
// a panel appears, so the area never refuses it.
class TSystemTrayArea : public TTrayArea
{
public:
    TSystemTrayArea()
        : FStatusNotifier(StatusNotifierHostOnBus())
        , FIcon(new QSystemTrayIcon(this))
        , FAvailable(QSystemTrayIcon::isSystemTrayAvailable())
    {
        connect(FIcon, &QSystemTrayIcon::activated, this, &TTrayArea::Activated);
        connect(FIcon, &QSystemTrayIcon::messageClicked, this, &TTrayArea::MessageClicked);
        auto* poll = new QTimer(this);
        poll->setInterval(AvailabilityPollInterval);
        connect(poll, &QTimer::timeout, this, [this] {
            const bool available = Available();
            if (available != FAvailable) {
                FAvailable = available;
                Q_EMIT AvailableChanged(available);
            }
        });
        poll->start();
    }

    bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

    bool Add(const QIcon& icon, const QString& tip) override
    {
        FIcon->setIcon(icon);
        FIcon->setToolTip(tip);
        FIcon->show();
        return true;
    }

    bool Modify(const QIcon& icon, const QString& tip) override
    {
        // Each change is sent to the panel, so only what differs is set.
        if (icon.cacheKey() != FIcon->icon().cacheKey())
            FIcon->setIcon(icon);
        if (tip != FIcon->toolTip())
            FIcon->setToolTip(tip);
        return true;
    }

    void Remove() override { FIcon->hide(); }

    void SetMenu(QMenu* menu) override { FIcon->setContextMenu(menu); }

    QRect Geometry() const override { return FIcon->geometry(); }

    // A StatusNotifierItem's messages go to the notification service, which the program asks
    // itself before it falls back to the balloon: only an embedded icon has a balloon of its
    // own.
    bool ShowMessage(const QString& title, const QString& text, const QIcon& icon) override
    {
        if (FStatusNotifier || !Available() || !QSystemTrayIcon::supportsMessages())
            return false;
        FIcon->showMessage(title, text, icon, BalloonTimeout);
        return true;
    }

    bool SingleActivation() const override { return FStatusNotifier; }

private:
    const bool FStatusNotifier;
    QSystemTrayIcon* FIcon;
    // What the last poll found, so that only changes are reported.
    bool FAvailable;
};

// Cuts after a whole character, never between the halves of a surrogate pair.
QString CutText(const QString& text, int length)
{
    if (text.size() <= length)
        return text;
    if (length > 0 && text[length - 1].isHighSurrogate())
        --length;
    return text.left(length);
}

} // namespace

TTrayIcon::TTrayIcon(QObject* parent)
    : QObject(parent)
    , FAnimationTimer(new QTimer(this))
{
    FAnimationTimer->setInterval(FInterval);
    connect(FAnimationTimer, &QTimer::timeout, this, &TTrayIcon::NextFrame);
    SetArea(std::make_unique<TSystemTrayArea>());
}

TTrayIcon::~TTrayIcon()
{
    FAnimated = false;
    FAnimationTimer->stop();
    HideIcon();
}

void TTrayIcon::SetArea(std::unique_ptr<TTrayArea> area)
{
    const bool wasAvailable = FArea && FArea->Available();
    if (FArea) {
        HideIcon();
        FArea->SetMenu(nullptr);
    }
    FArea = std::move(area);
    connect(FArea.get(), &TTrayArea::Activated, this, &TTrayIcon::AreaActivated);
    connect(FArea.get(), &TTrayArea::AvailableChanged, this, &TTrayIcon::AvailableChanged);
    connect(FArea.get(), &TTrayArea::MessageClicked, this, &TTrayIcon::MessageClicked);
    UpdateMenu();
    if (FActive)
        ShowIcon();
    if (FArea->Available() != wasAvailable)
        Q_EMIT AvailableChanged(FArea->Available());
}

void TTrayIcon::SetActive(bool active)
{
    FActive = active;
    UpdateMenu();
    if (active)
        ShowIcon();
    else
        HideIcon();
}

void TTrayIcon::SetEnabled(bool enabled)
{
    FEnabled = enabled;
    UpdateMenu();
}

void TTrayIcon::SetHint(const QString& hint)
{
    if (hint == FHint)
        return;
    FHint = hint;
    UpdateIcon();
}

QString TTrayIcon::ShownHint() const
{
    return CutText(FHint.section(QLatin1Char('|'), 0, 0), MaxHintLength);
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    FIcon = icon;
    UpdateBadgedImages();
    UpdateIcon();
}

void TTrayIcon::SetIcons(const QList<QIcon>& icons)
{
    FIcons = icons;
    UpdateBadgedImages();
    UpdateIcon();
}

void TTrayIcon::SetBadge(bool badge)
{
    if (badge == FBadge)
        return;
    FBadge = badge;
    UpdateBadgedImages();
    UpdateIcon();
}

void TTrayIcon::UpdateBadgedImages()
{
    FBadgedIcon = QIcon();
    FBadgedIcons.clear();
    if (!FBadge)
        return;
    if (!FIcon.isNull())
        FBadgedIcon = Icons::WithErrorBadge(FIcon);
    for (const QIcon& frame : std::as_const(FIcons))
        FBadgedIcons.append(Icons::WithErrorBadge(frame));
}

bool TTrayIcon::ShowMessage(const QString& title, const QString& text)
{
    if (!FActive || !FRegistered)
        return false;
    return FArea->ShowMessage(title, text, FIcon);
}

void TTrayIcon::SetAnimated(bool animated)
{
    if (animated && FIcons.isEmpty())
        animated = false;
    FAnimated = animated;
    FFrameIndex = 0;
    UpdateTimer();
    UpdateIcon();
}

void TTrayIcon::SetInterval(std::uint16_t interval)
{
    FInterval = interval;
    FAnimationTimer->setInterval(interval);
}

QMenu* TTrayIcon::PopupMenu() const
{
    return FPopupMenu;
}

void TTrayIcon::SetPopupMenu(QMenu* menu)
{
    FPopupMenu = menu;
    UpdateMenu();
}

void TTrayIcon::NextFrame()
{
    if (!FAnimated || FIcons.isEmpty())
        return;
    ++FFrameIndex;
    if (FFrameIndex >= FIcons.size())
        FFrameIndex = 0;
    UpdateIcon();
}

QIcon TTrayIcon::CurrentImage() const
{
    const QList<QIcon>& frames = FBadge ? FBadgedIcons : FIcons;
    if (FAnimated && !frames.isEmpty())
        return frames[std::clamp(FFrameIndex, 0, static_cast<int>(frames.size()) - 1)];
    return FBadge ? FBadgedIcon : FIcon;
}

void TTrayIcon::ShowIcon()
{
    if (FRegistered) {
        FArea->Remove();
        FRegistered = false;
    }
    const QIcon image = CurrentImage();
    if (!image.isNull())
        FRegistered = FArea->Add(image, ShownHint());
    UpdateTimer();
}

void TTrayIcon::HideIcon()
{
    if (FRegistered)
        FArea->Remove();
    FRegistered = false;
    FLastTrigger.invalidate();
    UpdateTimer();
}

void TTrayIcon::UpdateIcon()
{
    if (FIcons.isEmpty() && FAnimated) {
        FAnimated = false;
        UpdateTimer();
    }
    if (FRegistered) {
        const QIcon image = CurrentImage();
        if (image.isNull()) {
            HideIcon();
        } else if (!FArea->Modify(image, ShownHint())) {
            // Refused: the next change places the icon afresh.
            FRegistered = false;
            UpdateTimer();
        }
    } else if (FActive) {
        ShowIcon();
    }
}

// The animation only runs while there is an icon to show it on.
void TTrayIcon::UpdateTimer()
{
    if (FAnimated && FRegistered) {
        if (!FAnimationTimer->isActive())
            FAnimationTimer->start();
    } else {
        FAnimationTimer->stop();
    }
}

void TTrayIcon::UpdateMenu()
{
    FArea->SetMenu(FActive && FEnabled ? FPopupMenu.data() : nullptr);
}

// A double click also reports its first click as a plain one, which does nothing here. Areas
// that have no double click of their own report both clicks as plain ones: two within the
// desktop's double-click time count as a double click. Where one activation is all a click
// makes (a StatusNotifierItem host), it runs the double-click action at once; a host that
// forwards both clicks of a double click still runs it once.
void TTrayIcon::AreaActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (!FEnabled)
        return;
    if (reason == QSystemTrayIcon::Trigger && FArea->SingleActivation()) {
        if (FLastTrigger.isValid() && FLastTrigger.elapsed() <= QApplication::doubleClickInterval())
            return;
        FLastTrigger.start();
        DoubleClick();
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        FLastTrigger.invalidate();
        DoubleClick();
    } else if (reason == QSystemTrayIcon::Trigger) {
        if (FLastTrigger.isValid() &&
            FLastTrigger.elapsed() <= QApplication::doubleClickInterval()) {
            FLastTrigger.invalidate();
            DoubleClick();
        } else {
            FLastTrigger.start();
        }
    }
}

void TTrayIcon::DoubleClick()
{
    if (FPopupMenu) {
        QAction* item = FPopupMenu->defaultAction();
        if (item != nullptr && item->isEnabled()) {
            item->trigger();
            return;
        }
    }
    if (OnDblClick)
        OnDblClick();
}
