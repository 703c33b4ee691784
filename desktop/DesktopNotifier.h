#pragma once

#include "desktop/Notifier.h"

#include <QDBusConnection>
#include <QPointer>

#include <cstdint>

class QDBusPendingCallWatcher;
class TTrayIcon;

// The program's pop-ups: through the desktop's notification service
// (org.freedesktop.Notifications on the session bus) when there is one, else in the tray
// icon's own balloon, else not at all. Nothing here ever waits for the bus.
class TDesktopNotifier : public TNotifier
{
    Q_OBJECT

public:
    // Where the last pop-up went.
    enum class TRoute
    {
        None,
        Service,
        Balloon
    };

    // The tray icon, which may go first, gives the balloon; bus is where the service is looked
    // for.
    TDesktopNotifier(TTrayIcon* tray, const QDBusConnection& bus, QObject* parent = nullptr);
    // On the session bus.
    explicit TDesktopNotifier(TTrayIcon* tray, QObject* parent = nullptr);

    void Notify(const TDesktopNotice& notice) override;

    TRoute LastRoute() const { return FRoute; }
    // The service's id of the pop-up shown now; 0 for none.
    std::uint32_t NotificationId() const { return FId; }

Q_SIGNALS:
    // A pop-up has gone its way (or none was shown).
    void Routed(TDesktopNotifier::TRoute route);

private Q_SLOTS:
    // The service's signals; each names the pop-up it is about.
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    void Send(const TDesktopNotice& notice, std::uint64_t sequence, bool markup);
    void ShowBalloon(const TDesktopNotice& notice);
    void Finish(TRoute route);
    // The reply of a call belongs to the latest Notify only.
    bool Current(std::uint64_t sequence) const { return sequence == FSequence; }

    QPointer<TTrayIcon> FTray;
    QDBusConnection FBus;
    TRoute FRoute = TRoute::None;
    std::uint32_t FId = 0;
    std::uint64_t FSequence = 0;
};
