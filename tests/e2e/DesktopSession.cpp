#include "tests/e2e/DesktopSession.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto StartTimeout = std::chrono::seconds(15);

std::string ReadAll(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// One line from a descriptor, within the start time-out; empty when none came.
std::string ReadLine(int fd)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + StartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return {};
}

template <class TCondition> bool WaitUntil(TCondition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + StartTimeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool Installed(const char* program)
{
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

} // namespace

TDesktopSession::~TDesktopSession()
{
    if (FWatcherInput >= 0)
        ::close(FWatcherInput);
    // The last started first: the display goes last, after its clients.
    for (auto child = FChildren.rbegin(); child != FChildren.rend(); ++child) {
        ::kill(*child, SIGTERM);
        ::waitpid(*child, nullptr, 0);
    }
    if (!FFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
}

// The child ends with the test process, even one that crashed, by the parent-death signal.
pid_t TDesktopSession::Spawn(const std::vector<std::string>& arguments, const std::string& output,
                             int extraFd, int inputFd)
{
    const int log = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(inputFd >= 0 ? inputFd : null, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        if (extraFd >= 0)
            ::dup2(extraFd, 3);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (log >= 0)
        ::close(log);
    if (child > 0)
        FChildren.push_back(child);
    return child;
}

std::string TDesktopSession::Start(const std::string& watcherScript)
{
    for (const char* program : {"Xvfb", "dbus-daemon", "dbus-send", "dunst", "dunstctl", "gdbus"}) {
        if (!Installed(program))
            return std::string(program) +
                   " is not installed (packages xvfb, dbus-daemon, dbus-bin, dunst, "
                   "libglib2.0-bin)";
    }
    if (std::system("/usr/bin/python3 -c 'import dbus, gi' >/dev/null 2>&1") != 0)
        return "python3-dbus or python3-gi is not installed";
    char folder[] = "/tmp/mb-session-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return std::string("no session folder: ") + std::strerror(errno);
    FFolder = folder;
    for (const auto& step : {&TDesktopSession::StartDisplay, &TDesktopSession::StartBus}) {
        if (std::string failure = (this->*step)(); !failure.empty())
            return failure;
    }
    if (std::string failure = StartWatcher(watcherScript); !failure.empty())
        return failure;
    return StartNotificationServer();
}

std::string TDesktopSession::StartDisplay()
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return "no pipe for the display number";
    // Xvfb picks a free display number itself and writes it to descriptor 3.
    Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
          FFolder + "/xvfb.log", channel[1]);
    ::close(channel[1]);
    const std::string number = ReadLine(channel[0]);
    ::close(channel[0]);
    if (number.empty())
        return "Xvfb did not start: " + ReadAll(FFolder + "/xvfb.log");
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return {};
}

std::string TDesktopSession::StartBus()
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return "no pipe for the bus address";
    Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=3"}, FFolder + "/bus.log",
          channel[1]);
    ::close(channel[1]);
    const std::string address = ReadLine(channel[0]);
    ::close(channel[0]);
    if (address.empty())
        return "dbus-daemon did not start: " + ReadAll(FFolder + "/bus.log");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return {};
}

// The watcher ends when its input closes, so it never outlives the test process.
std::string TDesktopSession::StartWatcher(const std::string& script)
{
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0)
        return "no pipe for the watcher";
    Spawn({"/usr/bin/python3", script}, FFolder + "/watcher.log", -1, input[0]);
    ::close(input[0]);
    FWatcherInput = input[1];
    if (!WaitUntil([this] { return WatcherLog().find("ready\n") != std::string::npos; }))
        return "the StatusNotifierWatcher did not start: " + WatcherLog();
    return {};
}

// Markup on, so that a test sees the texts escaped as a desktop that reads markup needs them;
// the context menu picks the action named in the file "action".
std::string TDesktopSession::StartNotificationServer()
{
    const std::string chooser = FFolder + "/choose-action";
    std::ofstream(chooser) << "#!/bin/sh\nexec grep -m1 -F \",$(cat '" << FFolder
                           << "/action')]\"\n";
    ::chmod(chooser.c_str(), 0700);
    // Pop-ups stay until closed, so that a test sees one replace another however slow it runs.
    std::ofstream(FFolder + "/dunstrc")
        << "[global]\nmarkup = full\ndmenu = " << chooser << "\n[urgency_normal]\ntimeout = 0\n";
    ChooseAction("default");
    Spawn({"dunst", "-print", "-config", FFolder + "/dunstrc"}, FFolder + "/dunst.log");
    const bool owned = WaitUntil([] {
        return std::system("dbus-send --session --print-reply --dest=org.freedesktop.DBus "
                           "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
                           "string:org.freedesktop.Notifications 2>/dev/null | "
                           "grep -q 'boolean true'") == 0;
    });
    if (!owned)
        return "dunst did not take the notification service: " + NotificationLog();
    return {};
}

std::string TDesktopSession::NotificationLog() const
{
    return ReadAll(FFolder + "/dunst.log");
}

std::string TDesktopSession::WatcherLog() const
{
    return ReadAll(FFolder + "/watcher.log");
}

void TDesktopSession::ChooseAction(const std::string& action) const
{
    std::ofstream(FFolder + "/action") << action;
}
