#pragma once

#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tools/SamplePop3Server.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct TSampleServerLog;

// The sample POP3 server on a thread of the test, serving the given messages (CR LF text) from
// a folder of its own to the account demo/demo. Every event of the server, commands included,
// is kept for the test to read.
class TSampleServerThread
{
public:
    explicit TSampleServerThread(const std::vector<std::string>& messages,
                                 TSamplePop3Server::TOptions options = {});
    ~TSampleServerThread();
    TSampleServerThread(const TSampleServerThread&) = delete;
    TSampleServerThread& operator=(const TSampleServerThread&) = delete;

    std::uint16_t Port() const { return FServer->Port(); }
    // The server's log so far, one event a line.
    std::string Log() const;
    // Waits until the log holds the text; false when it does not within timeoutMs.
    bool WaitForLog(const std::string& text, int timeoutMs = 5000) const;

private:
    TTempDir FFolder;
    std::shared_ptr<TSampleServerLog> FLog;
    std::unique_ptr<TSamplePop3Server> FServer;
    std::thread FThread;
};

// The sample server's options for TLS in the mode with the certificate.
TSamplePop3Server::TOptions SampleTlsOptions(TSamplePop3Server::TTlsMode mode,
                                             const TTestCertificates::TCertificate& certificate);

// The sample server over TLS from the first byte, with a self-signed certificate for 127.0.0.1
// made for it. Throws std::runtime_error when openssl is missing.
struct TSelfSignedSampleServer
{
    explicit TSelfSignedSampleServer(const std::vector<std::string>& messages = {});

    TTestCertificates Pki;
    TTestCertificates::TCertificate Certificate;
    TSampleServerThread Server;
};
