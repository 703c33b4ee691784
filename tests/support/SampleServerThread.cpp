#include "tests/support/SampleServerThread.h"

#include <chrono>
#include <cstdio>
#include <mutex>

struct TSampleServerLog
{
    std::mutex Lock;
    std::string Text;
};

TSampleServerThread::TSampleServerThread(const std::vector<std::string>& messages,
                                         TSamplePop3Server::TOptions options)
    : FLog(std::make_shared<TSampleServerLog>())
{
    for (std::size_t i = 0; i < messages.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%06zu.eml", i + 1);
        WriteFile(FFolder.File(name), messages[i]);
    }
    options.Folder = FFolder.Path();
    options.Verbose = true;
    options.Log = [log = FLog](const std::string& text) {
        const std::lock_guard guard(log->Lock);
        log->Text += text + "\n";
    };
    FServer = std::make_unique<TSamplePop3Server>(options);
    FThread = std::thread([this] { FServer->Run(); });
}

TSampleServerThread::~TSampleServerThread()
{
    FServer->Stop();
    FThread.join();
}

std::string TSampleServerThread::Log() const
{
    const std::lock_guard guard(FLog->Lock);
    return FLog->Text;
}

bool TSampleServerThread::WaitForLog(const std::string& text, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TSamplePop3Server::TOptions SampleTlsOptions(TSamplePop3Server::TTlsMode mode,
                                             const TTestCertificates::TCertificate& certificate)
{
    TSamplePop3Server::TOptions options;
    options.Tls = mode;
    options.CertificateFile = certificate.CertificateFile;
    options.KeyFile = certificate.KeyFile;
    return options;
}

TSelfSignedSampleServer::TSelfSignedSampleServer(const std::vector<std::string>& messages)
    : Certificate(Pki.SelfSigned("127.0.0.1", "IP:127.0.0.1"))
    , Server(messages, SampleTlsOptions(TSamplePop3Server::TTlsMode::Implicit, Certificate))
{}
