#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A desktop session of the test's own: a virtual X display, a private session bus, a
// StatusNotifierWatcher on it with a host (a panel's tray, tests/support/sni_watcher.py) and a
// notification server (dunst) that prints every pop-up it receives. Started before the
// application object exists, since Qt decides once, at the first tray icon, how to place it.
// The programs end with the session, or with the test process however it ends.
class TDesktopSession
{
public:
    TDesktopSession() = default;
    ~TDesktopSession();
    TDesktopSession(const TDesktopSession&) = delete;
    TDesktopSession& operator=(const TDesktopSession&) = delete;

    // Starts everything and points this process's DISPLAY and DBUS_SESSION_BUS_ADDRESS at it.
    // Empty when the session runs; else what is missing or failed.
    std::string Start(const std::string& watcherScript);

    // The session's folder, with dunst's configuration in it.
    const std::string& Folder() const { return FFolder; }
    // Everything dunst has printed so far.
    std::string NotificationLog() const;
    // Everything the watcher has printed so far ("registered SERVICE PATH" lines).
    std::string WatcherLog() const;
    // The action that dunst's context menu chooses next ("show", "mailclient"...).
    void ChooseAction(const std::string& action) const;

private:
    pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output,
                int extraFd = -1, int inputFd = -1);
    std::string StartDisplay();
    std::string StartBus();
    std::string StartWatcher(const std::string& script);
    std::string StartNotificationServer();

    std::string FFolder;
    std::vector<pid_t> FChildren;
    int FWatcherInput = -1;
};
