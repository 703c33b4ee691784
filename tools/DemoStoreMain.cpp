// Writes the throwaway store of the demonstration: one account on the sample POP3 server.
#include "config/FileKeyStore.h"
#include "pop3/TlsTransport.h"
#include "tools/DemoStore.h"

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

const char* const Usage =
    "usage: mb_demo_store --config FILE --port N [--user NAME] [--password TEXT]\n"
    "                     [--security none|starttls|tls] [--trusted-certificate FINGERPRINT]\n"
    "Writes a new Mailbeacon store FILE with one account on the sample POP3 server at\n"
    "127.0.0.1 port N (user and password demo unless given) and interval checking on.\n"
    "The account's security is none unless given; FINGERPRINT is the SHA-256 fingerprint of\n"
    "a certificate the account trusts (the sample server's self-signed one).\n"
    "FILE must not exist yet: a store in use is never overwritten.\n";

int BadCommandLine(const std::string& text)
{
    std::cerr << "mb_demo_store: " << text << "\n" << Usage;
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    std::string fileName;
    std::string port;
    TDemoAccount account;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            std::cout << Usage;
            return 0;
        }
        if (index + 1 >= argc)
            return BadCommandLine(argument.starts_with("--") ? argument + " needs a value"
                                                             : "unexpected argument " + argument);
        const std::string value = argv[++index];
        if (argument == "--config")
            fileName = value;
        else if (argument == "--port")
            port = value;
        else if (argument == "--user")
            account.UserId = value;
        else if (argument == "--password")
            account.Password = value;
        else if (argument == "--security" &&
                 (value == "none" || value == "starttls" || value == "tls"))
            account.Security = value == "none" ? 0 : value == "starttls" ? 1 : 2;
        else if (argument == "--security")
            return BadCommandLine("--security takes none, starttls or tls");
        else if (argument == "--trusted-certificate" && !NormalizeFingerprint(value).empty())
            account.TrustedCertificate = NormalizeFingerprint(value);
        else if (argument == "--trusted-certificate")
            return BadCommandLine("--trusted-certificate needs a SHA-256 fingerprint");
        else
            return BadCommandLine("unexpected argument " + argument);
    }
    if (fileName.empty())
        return BadCommandLine("no store file given");
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) < 1 ||
        std::stoi(port) > 65535)
        return BadCommandLine("--port needs a number from 1 to 65535");
    account.Port = std::stoi(port);
    std::error_code error;
    if (std::filesystem::exists(fileName, error) || error)
        return BadCommandLine(fileName + " exists already");

    try {
        TFileKeyStore store(fileName);
        WriteDemoStore(store, account);
    } catch (const std::exception& failure) {
        std::cerr << "mb_demo_store: " << failure.what() << std::endl;
        return 1;
    }
    return 0;
}
