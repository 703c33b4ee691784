#include "tests/support/FakeMailbox.h"

#include "tools/SampleMaildrop.h"
#include "tools/SamplePop3Session.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

// The messages, the delay and the command hook, as the mailbox and its sessions share them.
class TFakeMailbox::TStore : public IMaildrop
{
public:
    struct TStoredMessage
    {
        std::uint64_t Id;
        std::string Text;
    };

    std::mutex Lock;
    std::vector<TStoredMessage> Messages;
    std::uint64_t NextId = 1;
    int DelayMs = 0;
    std::function<void(const std::string&)> OnCommand;

    // Under the lock.
    void Add(std::string text) { Messages.push_back({NextId++, std::move(text)}); }

    // The scripted server serves one connection at a time, so sessions never overlap.
    bool TryLock(int) override { return true; }
    void Unlock() override {}

    std::vector<TSampleMessage> Load() override
    {
        std::lock_guard<std::mutex> guard(Lock);
        std::vector<TSampleMessage> loaded;
        for (const TStoredMessage& message : Messages) {
            const std::string id = std::to_string(message.Id);
            loaded.push_back({id, "fake-" + id, ToWireText(message.Text)});
        }
        return loaded;
    }

    bool Remove(const TSampleMessage& message, std::string&) override
    {
        std::lock_guard<std::mutex> guard(Lock);
        // A message the test has replaced meanwhile is gone all the same.
        Messages.erase(std::remove_if(Messages.begin(), Messages.end(),
                                      [&](const TStoredMessage& stored) {
                                          return std::to_string(stored.Id) == message.Source;
                                      }),
                       Messages.end());
        return true;
    }
};

TFakeMailbox::TFakeMailbox()
    : FStore(std::make_shared<TStore>())
{}

TFakeMailbox::~TFakeMailbox() = default;

void TFakeMailbox::SetMessages(std::vector<std::string> messages)
{
    std::lock_guard<std::mutex> guard(FStore->Lock);
    FStore->Messages.clear();
    for (std::string& message : messages)
        FStore->Add(std::move(message));
}

void TFakeMailbox::AddMessage(std::string message)
{
    std::lock_guard<std::mutex> guard(FStore->Lock);
    FStore->Add(std::move(message));
}

std::vector<std::string> TFakeMailbox::Messages()
{
    std::lock_guard<std::mutex> guard(FStore->Lock);
    std::vector<std::string> texts;
    for (const TStore::TStoredMessage& message : FStore->Messages)
        texts.push_back(message.Text);
    return texts;
}

void TFakeMailbox::RemoveMessage(std::size_t index)
{
    std::lock_guard<std::mutex> guard(FStore->Lock);
    if (index < FStore->Messages.size())
        FStore->Messages.erase(FStore->Messages.begin() + static_cast<long>(index));
}

void TFakeMailbox::SetDelay(int milliseconds)
{
    std::lock_guard<std::mutex> guard(FStore->Lock);
    FStore->DelayMs = milliseconds;
}

void TFakeMailbox::SetOnCommand(std::function<void(const std::string&)> onCommand)
{
    std::lock_guard<std::mutex> guard(FStore->Lock);
    FStore->OnCommand = std::move(onCommand);
}

void TFakeMailbox::ServeOn(TFakePop3Server& server, int sessions)
{
    for (int session = 0; session < sessions; ++session)
        server.Send(TSamplePop3Session::Greeting()).Serve(Session());
}

TFakePop3Server::THandler TFakeMailbox::Session()
{
    auto session = std::make_shared<TSamplePop3Session>(*FStore, User, Password);
    session->Capabilities = Capabilities;
    // The session refers to the store it was made with; the handler keeps both alive.
    return [store = FStore, session, refuseUidl = RefuseUidl](const std::string& command) {
        int delay = 0;
        std::function<void(const std::string&)> onCommand;
        {
            std::lock_guard<std::mutex> guard(store->Lock);
            delay = store->DelayMs;
            onCommand = store->OnCommand;
        }
        if (onCommand)
            onCommand(command);
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (refuseUidl && (command.size() < 5 || command[4] == ' ') &&
            command.compare(0, 4, "UIDL") == 0)
            return std::string("-ERR unknown command\r\n");
        return session->Answer(command);
    };
}
