#include "tests/support/TinyProxy.h"

#include "tests/support/HttpFixtureServer.h"
#include "tests/support/PopServers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* Program = "/usr/bin/tinyproxy";

} // namespace

bool TTinyProxy::Available()
{
    return ::access(Program, X_OK) == 0;
}

TTinyProxy::TTinyProxy()
{
    if (!Available())
        throw std::runtime_error(std::string(Program) + " is not installed (scripts/deps)");
    std::string pattern = std::filesystem::temp_directory_path().string() + "/mb-tinyproxy-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("tinyproxy: cannot create a temporary folder");
    FFolder = pattern;
    // The port is free when chosen but another process may take it first: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Start())
            return;
    }
    const std::string log = Log();
    std::filesystem::remove_all(FFolder);
    throw std::runtime_error("tinyproxy did not start; its log:\n" + log);
}

TTinyProxy::~TTinyProxy()
{
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

std::string TTinyProxy::Log() const
{
    std::ifstream file(FFolder + "/tinyproxy.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool TTinyProxy::Start()
{
    FPort = UnusedLoopbackPort();
    const std::string config = FFolder + "/tinyproxy.conf";
    {
        std::ofstream file(config, std::ios::trunc);
        file << "Port " << FPort << "\n"
             << "Listen 127.0.0.1\n"
             << "Allow 127.0.0.1\n"
             << "Timeout 30\n"
             << "MaxClients 20\n"
             << "LogLevel Info\n"
             << "LogFile \"" << FFolder << "/tinyproxy.log\"\n";
    }
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("tinyproxy: cannot fork");
    if (pid == 0) {
        // Foreground (-d): nothing starts it as a service here, and the test owns its process.
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(Program, Program, "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    FPid = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (LoopbackAccepts(FPort))
            return true;
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Stop();
    return false;
}

void TTinyProxy::Stop()
{
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FPid = -1;
}
