// The sample POP3 server's entry: serves a folder of .eml files on a loopback port until it is
// interrupted, and prints the port it listens on as the first line of its output.
#include "tools/SamplePop3Server.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

const char* const Usage =
    "usage: mb_sample_pop3_server [--port N] [--user NAME] [--password TEXT]\n"
    "                             [--tls CERT KEY | --stls CERT KEY] [--verbose] FOLDER\n"
    "Serves the .eml files of FOLDER, in name order, as the POP3 maildrop of one account on\n"
    "127.0.0.1. Port 0 (the default) lets the system choose a free port; the port is printed\n"
    "on the first line of the output. The account is demo/demo unless given. Deleted\n"
    "messages are removed from FOLDER when the client ends its session with QUIT.\n"
    "  --tls CERT KEY   TLS from the first byte (POP3S), with the certificate and key (PEM)\n"
    "  --stls CERT KEY  plain text until the client asks for TLS with STLS\n"
    "  --verbose        also log every command (passwords hidden) and the first line of each\n"
    "                   reply\n";

std::atomic<TSamplePop3Server*> RunningServer = nullptr;

void StopOnSignal(int)
{
    if (TSamplePop3Server* server = RunningServer.load())
        server->Stop();
}

int BadCommandLine(const std::string& text)
{
    std::cerr << "mb_sample_pop3_server: " << text << "\n" << Usage;
    return 2;
}

bool ParsePort(const std::string& text, std::uint16_t& port)
{
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    TSamplePop3Server::TOptions options;
    std::mutex logMutex;
    options.Log = [&logMutex](const std::string& text) {
        const std::lock_guard lock(logMutex);
        std::cerr << "sample POP3 server: " << text << std::endl;
    };

    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const bool hasValue = index + 1 < argc;
        if (argument == "--help" || argument == "-h") {
            std::cout << Usage;
            return 0;
        }
        if (argument == "--verbose") {
            options.Verbose = true;
        } else if (argument == "--port") {
            if (!hasValue || !ParsePort(argv[++index], options.Port))
                return BadCommandLine("--port needs a number from 0 to 65535");
        } else if (argument == "--tls" || argument == "--stls") {
            if (index + 2 >= argc || argv[index + 1][0] == '\0' || argv[index + 2][0] == '\0')
                return BadCommandLine(argument + " needs a certificate file and a key file");
            if (options.Tls != TSamplePop3Server::TTlsMode::None)
                return BadCommandLine("--tls and --stls exclude each other");
            options.Tls = argument == "--tls" ? TSamplePop3Server::TTlsMode::Implicit
                                              : TSamplePop3Server::TTlsMode::StartTls;
            options.CertificateFile = argv[++index];
            options.KeyFile = argv[++index];
        } else if (argument == "--user" || argument == "--password") {
            if (!hasValue || argv[index + 1][0] == '\0')
                return BadCommandLine(argument + " needs a text");
            (argument == "--user" ? options.User : options.Password) = argv[++index];
        } else if (argument.starts_with("--") || !options.Folder.empty()) {
            return BadCommandLine("unexpected argument " + argument);
        } else {
            options.Folder = argument;
        }
    }
    if (options.Folder.empty())
        return BadCommandLine("no folder given");
    std::error_code error;
    if (!std::filesystem::is_directory(options.Folder, error))
        return BadCommandLine(options.Folder + " is not a folder");

    try {
        const std::size_t count = TSampleMaildrop(options.Folder).Load().size();
        TSamplePop3Server server(options);
        RunningServer = &server;
        struct sigaction action = {};
        action.sa_handler = StopOnSignal;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaction(signal, &action, nullptr);

        std::cout << server.Port() << std::endl;
        const char* security = options.Tls == TSamplePop3Server::TTlsMode::Implicit   ? " (TLS)"
                               : options.Tls == TSamplePop3Server::TTlsMode::StartTls ? " (STLS)"
                                                                                      : "";
        options.Log("serving " + std::to_string(count) + " message(s) of " + options.Folder +
                    " on 127.0.0.1 port " + std::to_string(server.Port()) + security +
                    " for user " + options.User);
        server.Run();
        RunningServer = nullptr;
        options.Log("stopped");
    } catch (const std::exception& failure) {
        std::cerr << "mb_sample_pop3_server: " << failure.what() << std::endl;
        return 1;
    }
    return 0;
}
