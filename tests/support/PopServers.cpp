#include "tests/support/PopServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

// The user the servers run as and own their files as: nobody for root, else oneself.
struct TServerUser
{
    std::string Name;
    std::string Group;
    uid_t Uid;
    gid_t Gid;
};

TServerUser ServerUser()
{
    if (::geteuid() == 0) {
        const passwd* user = ::getpwnam("nobody");
        const group* grp = ::getgrnam("nogroup");
        if (user != nullptr && grp != nullptr)
            return {"nobody", "nogroup", user->pw_uid, grp->gr_gid};
    }
    const passwd* self = ::getpwuid(::geteuid());
    const group* grp = ::getgrgid(::getegid());
    return {self != nullptr ? self->pw_name : "root", grp != nullptr ? grp->gr_name : "root",
            ::geteuid(), ::getegid()};
}

void GiveTo(const fs::path& path, const TServerUser& user)
{
    if (::lchown(path.c_str(), user.Uid, user.Gid) != 0)
        throw std::runtime_error("cannot hand " + path.string() + " to " + user.Name);
    if (fs::is_directory(path))
        for (const auto& entry : fs::recursive_directory_iterator(path))
            if (::lchown(entry.path().c_str(), user.Uid, user.Gid) != 0)
                throw std::runtime_error("cannot hand " + entry.path().string() + " over");
}

// A socket connected to the loopback port, or -1.
int ConnectLoopback(std::uint16_t port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return s;
    if (s >= 0)
        ::close(s);
    return -1;
}

// True when a connection to the port is greeted with "+OK" within a second.
bool Greets(std::uint16_t port)
{
    const int s = ConnectLoopback(port);
    bool greeted = false;
    if (s >= 0) {
        std::string text;
        const auto deadline = TClock::now() + std::chrono::seconds(1);
        while (text.find('\n') == std::string::npos && TClock::now() < deadline) {
            pollfd entry{s, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0)
                continue;
            char buffer[256];
            const ssize_t count = ::recv(s, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(count));
        }
        greeted = text.compare(0, 3, "+OK") == 0;
        if (greeted)
            ::send(s, "QUIT\r\n", 6, MSG_NOSIGNAL);
    }
    if (s >= 0)
        ::close(s);
    return greeted;
}

} // namespace

bool LoopbackAccepts(std::uint16_t port)
{
    const int s = ConnectLoopback(port);
    if (s >= 0)
        ::close(s);
    return s >= 0;
}

std::uint16_t FreeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        throw std::runtime_error("no free loopback port");
    }
    ::close(s);
    return ntohs(address.sin_port);
}

std::string FindProgram(const std::string& name)
{
    std::string folders = "/usr/sbin:/usr/bin:/sbin:/bin";
    if (const char* path = std::getenv("PATH"); path != nullptr)
        folders = std::string(path) + ":" + folders;
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

TServerProcess::~TServerProcess()
{
    Stop();
}

void TServerProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& logFile)
{
    FLogFile = logFile;
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int result =
        ::posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        FPid = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

void TServerProcess::WaitForGreeting(std::uint16_t port, const std::string& what, int timeoutMs)
{
    WaitUntil([port] { return Greets(port); },
              what + " did not greet on port " + std::to_string(port), what, timeoutMs);
}

void TServerProcess::WaitForListener(std::uint16_t port, const std::string& what, int timeoutMs)
{
    WaitUntil([port] { return LoopbackAccepts(port); },
              what + " did not listen on port " + std::to_string(port), what, timeoutMs);
}

void TServerProcess::WaitUntil(const std::function<bool()>& ready, const std::string& failure,
                               const std::string& what, int timeoutMs)
{
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (TClock::now() < deadline) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            throw std::runtime_error(what + " ended at start; its log:\n" + ReadFile(FLogFile));
        }
        if (ready())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error(failure + "; its log:\n" + ReadFile(FLogFile));
}

void TServerProcess::Stop()
{
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    const auto deadline = TClock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
        if (TClock::now() > deadline) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FPid = -1;
}

TDovecotServer::TDovecotServer(const TServerTls& tls)
{
    const std::string binary = Binary();
    if (binary.empty())
        throw std::runtime_error("dovecot is not installed");
    const TServerUser user = ServerUser();
    const fs::path dir = FFolder.Path();
    // The server's own processes run as the server user and must reach everything here.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    FMaildir = (dir / "mail" / User / "Maildir").string();
    for (const char* sub : {"new", "cur", "tmp"})
        fs::create_directories(fs::path(FMaildir) / sub);
    fs::create_directories(dir / "run");
    fs::create_directories(dir / "state");
    WriteFile((dir / "users").string(), std::string(User) + ":{PLAIN}" + Password + "\n");
    WriteFile((dir / "dovecot.log").string(), "");
    FPort = FreeLoopbackPort();
    const std::string d = dir.string();
    std::string ssl = "ssl = no\n";
    std::string secureListener = "    port = 0\n";
    if (!tls.CertificateFile.empty()) {
        fs::create_directories(dir / "tls");
        fs::copy_file(tls.CertificateFile, dir / "tls" / "cert.pem");
        fs::copy_file(tls.KeyFile, dir / "tls" / "key.pem");
        do
            FSecurePort = FreeLoopbackPort();
        while (FSecurePort == FPort);
        ssl = "ssl = yes\n"
              "ssl_cert = <" +
              d +
              "/tls/cert.pem\n"
              "ssl_key = <" +
              d + "/tls/key.pem\n";
        secureListener = "    address = 127.0.0.1\n"
                         "    port = " +
                         std::to_string(FSecurePort) +
                         "\n"
                         "    ssl = yes\n";
    }
    const std::string config = "protocols = pop3\n"
                               "listen = 127.0.0.1\n"
                               "base_dir = " +
                               d +
                               "/run\n"
                               "state_dir = " +
                               d +
                               "/state\n"
                               "instance_name = mbtest-" +
                               std::to_string(FPort) +
                               "\n"
                               "log_path = " +
                               d +
                               "/dovecot.log\n"
                               "info_log_path = " +
                               d +
                               "/dovecot.log\n"
                               "default_internal_user = " +
                               user.Name +
                               "\n"
                               "default_internal_group = " +
                               user.Group +
                               "\n"
                               "default_login_user = " +
                               user.Name +
                               "\n"
                               "first_valid_uid = 1\n"
                               "first_valid_gid = 1\n"
                               "disable_plaintext_auth = no\n"
                               "auth_mechanisms = plain login\n"
                               "auth_failure_delay = 0\n"
                               "mail_max_userip_connections = 100\n" +
                               ssl +
                               "passdb {\n"
                               "  driver = passwd-file\n"
                               "  args = scheme=PLAIN username_format=%u " +
                               d +
                               "/users\n"
                               "}\n"
                               "userdb {\n"
                               "  driver = static\n"
                               "  args = uid=" +
                               std::to_string(user.Uid) + " gid=" + std::to_string(user.Gid) +
                               " home=" + d +
                               "/mail/%n\n"
                               "}\n"
                               "mail_location = maildir:~/Maildir\n"
                               "service pop3-login {\n"
                               "  chroot =\n"
                               "  inet_listener pop3 {\n"
                               "    address = 127.0.0.1\n"
                               "    port = " +
                               std::to_string(FPort) +
                               "\n"
                               "  }\n"
                               "  inet_listener pop3s {\n" +
                               secureListener +
                               "  }\n"
                               "}\n"
                               "service anvil {\n"
                               "  chroot =\n"
                               "}\n";
    WriteFile(d + "/dovecot.conf", config);
    GiveTo(dir, user);

    std::vector<std::string> arguments{"-c", d + "/dovecot.conf", "-F"};
    std::string program = binary;
    if (::geteuid() == 0) {
        arguments.insert(arguments.begin(), {"--reuid=" + user.Name, "--regid=" + user.Group,
                                             "--clear-groups", "--", binary});
        program = FindProgram("setpriv");
    }
    FProcess.Start(program, arguments, d + "/console.log");
    FProcess.WaitForGreeting(FPort, "dovecot");
}

std::string TDovecotServer::Maildir(const std::string& user) const
{
    return (fs::path(FFolder.Path()) / "mail" / user / "Maildir").string();
}

void TDovecotServer::AddUser(const std::string& user, const std::string& password)
{
    const std::string maildir = Maildir(user);
    for (const char* sub : {"new", "cur", "tmp"})
        fs::create_directories(fs::path(maildir) / sub);
    GiveTo(fs::path(FFolder.Path()) / "mail" / user, ServerUser());
    // Dovecot reads the password file again when it changes.
    const std::string users = FFolder.File("users");
    WriteFile(users, ReadFile(users) + user + ":{PLAIN}" + password + "\n");
    GiveTo(users, ServerUser());
}

void TDovecotServer::AddMessage(const std::string& text)
{
    AddMessage(User, text);
}

void TDovecotServer::AddMessage(const std::string& user, const std::string& text)
{
    ++FAdded;
    // Maildir names that sort in the order of adding, so the message numbers follow it.
    char name[64];
    std::snprintf(name, sizeof name, "1700000000.M%06zuP1.mbtest", FAdded);
    const fs::path file = fs::path(Maildir(user)) / "new" / name;
    WriteFile(file.string(), text);
    GiveTo(file, ServerUser());
}

std::size_t TDovecotServer::MessageCount() const
{
    std::size_t count = 0;
    for (const char* sub : {"new", "cur"})
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(FMaildir) / sub))
            ++count;
    return count;
}

std::string TDovecotServer::Log() const
{
    return ReadFile(FFolder.File("dovecot.log")) + ReadFile(FFolder.File("console.log"));
}

TMailutilsServer::TMailutilsServer(const std::vector<std::string>& messages)
{
    const std::string binary = Binary();
    if (binary.empty())
        throw std::runtime_error("GNU Mailutils pop3d is not installed");
    if (::geteuid() != 0)
        throw std::runtime_error("GNU Mailutils pop3d must be started as root");
    const TServerUser user = ServerUser();
    const fs::path dir = FFolder.Path();
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    const std::string d = dir.string();
    fs::create_directories(dir / "virt");
    fs::create_directories(dir / "home");
    // Users of the virtual domain "mbtest" log in as alice@mbtest; the hash is the SHA-512
    // crypt of the password with a fixed salt.
    WriteFile(d + "/virt/mbtest",
              std::string(User) +
                  ":$6$mbtestsalt$VZwyoTKPaIl7iGR5NYpNIcWvYpne9glJiw4iTGkTX0G3jW0Eh2R/"
                  "W0nWey/ivYm0Bk0TsMS3kEqZa7pyCWDDT0:" +
                  std::to_string(user.Uid) + ":" + std::to_string(user.Gid) + "::" + d +
                  "/home:/bin/false\n");
    // An mbox file: each message after a "From " line, lines ending in LF, a blank line after.
    std::string mbox;
    for (const std::string& message : messages) {
        mbox += "From sender@example.org Mon Dec  7 10:00:00 2026\n";
        std::string text = message;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at))
            text.erase(at, 1);
        mbox += text;
        if (!text.empty() && text.back() != '\n')
            mbox += "\n";
        mbox += "\n";
    }
    WriteFile(d + "/home/INBOX", mbox);
    ::chmod((d + "/home/INBOX").c_str(), 0600);
    GiveTo(dir / "home", user);
    FPort = FreeLoopbackPort();
    WriteFile(d + "/pop3d.conf", "logging { syslog no; }\n"
                                 "auth { authorization virtdomain; authentication generic; }\n"
                                 "virtdomain { passwd-dir \"" +
                                     d +
                                     "/virt\"; }\n"
                                     "mailbox { mailbox-pattern \"mbox:" +
                                     d +
                                     "/home/INBOX\"; }\n"
                                     "pidfile \"" +
                                     d +
                                     "/pop3d.pid\";\n"
                                     "server 127.0.0.1:" +
                                     std::to_string(FPort) + " { }\n");
    FProcess.Start(binary, {"--config-file=" + d + "/pop3d.conf", "--daemon", "--foreground"},
                   d + "/console.log");
    FProcess.WaitForGreeting(FPort, "pop3d");
}

std::string TMailutilsServer::Log() const
{
    return ReadFile(FFolder.File("console.log"));
}
