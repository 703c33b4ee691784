#include "tests/support/FakeMailbox.h"

#include <cctype>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

namespace {

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The message's lines without their CR LF.
std::vector<std::string> Lines(const std::string& message)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string::npos)
            end = message.size();
        std::string line = message.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// RFC 1939 §3: a line starting with "." gets one more in a multi-line response.
std::string Stuffed(const std::string& line)
{
    return !line.empty() && line.front() == '.' ? "." + line : line;
}

} // namespace

void TFakeMailbox::SetMessages(std::vector<std::string> messages)
{
    std::lock_guard<std::mutex> guard(FLock);
    FMessages = std::move(messages);
}

void TFakeMailbox::AddMessage(std::string message)
{
    std::lock_guard<std::mutex> guard(FLock);
    FMessages.push_back(std::move(message));
}

std::vector<std::string> TFakeMailbox::Messages()
{
    std::lock_guard<std::mutex> guard(FLock);
    return FMessages;
}

void TFakeMailbox::SetDelay(int milliseconds)
{
    std::lock_guard<std::mutex> guard(FLock);
    FDelayMs = milliseconds;
}

void TFakeMailbox::SetOnCommand(std::function<void(const std::string&)> onCommand)
{
    std::lock_guard<std::mutex> guard(FLock);
    FOnCommand = std::move(onCommand);
}

void TFakeMailbox::ServeOn(TFakePop3Server& server, int sessions)
{
    for (int session = 0; session < sessions; ++session)
        server.Reply("+OK fake POP3 server ready").Serve(Session());
}

TFakePop3Server::THandler TFakeMailbox::Session()
{
    auto deleted = std::make_shared<std::vector<bool>>();
    auto loggedIn = std::make_shared<bool>(false);
    return [this, deleted, loggedIn](const std::string& command) {
        int delay = 0;
        std::function<void(const std::string&)> onCommand;
        {
            std::lock_guard<std::mutex> guard(FLock);
            delay = FDelayMs;
            onCommand = FOnCommand;
        }
        if (onCommand)
            onCommand(command);
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        std::lock_guard<std::mutex> guard(FLock);
        return Answer(command, *deleted, *loggedIn);
    };
}

std::string TFakeMailbox::Answer(const std::string& command, std::vector<bool>& deleted,
                                 bool& loggedIn)
{
    deleted.resize(FMessages.size(), false);
    std::istringstream words(command);
    std::string verb;
    words >> verb;
    verb = Upper(verb);
    std::string argument = command.size() > verb.size() ? command.substr(verb.size() + 1) : "";
    int number = 0;
    int lines = -1;
    std::istringstream(argument) >> number >> lines;
    const bool exists = number >= 1 && number <= static_cast<int>(FMessages.size()) &&
                        !deleted[static_cast<std::size_t>(number - 1)];
    const std::string missing = "-ERR There's no message " + std::to_string(number) + ".\r\n";

    if (verb == "USER")
        return argument == User ? "+OK\r\n" : "-ERR unknown user\r\n";
    if (verb == "PASS") {
        loggedIn = argument == Password;
        return loggedIn ? "+OK Logged in.\r\n" : "-ERR [AUTH] Authentication failed.\r\n";
    }
    if (verb == "QUIT") {
        if (loggedIn)
            for (std::size_t index = deleted.size(); index-- > 0;)
                if (deleted[index])
                    FMessages.erase(FMessages.begin() + static_cast<long>(index));
        return "+OK Logging out.\r\n";
    }
    if (verb == "CAPA" && !Capabilities.empty()) {
        std::string reply = "+OK\r\n";
        for (const std::string& line : Capabilities)
            reply += line + "\r\n";
        return reply + ".\r\n";
    }
    if (!loggedIn)
        return "-ERR Unknown command.\r\n";
    if (verb == "STAT") {
        std::size_t count = 0;
        std::size_t size = 0;
        for (std::size_t index = 0; index < FMessages.size(); ++index)
            if (!deleted[index]) {
                ++count;
                size += FMessages[index].size();
            }
        return "+OK " + std::to_string(count) + " " + std::to_string(size) + "\r\n";
    }
    if (verb == "LIST")
        return exists ? "+OK " + std::to_string(number) + " " +
                            std::to_string(FMessages[static_cast<std::size_t>(number - 1)].size()) +
                            "\r\n"
                      : missing;
    if (verb == "UIDL")
        return exists ? "+OK " + std::to_string(number) + " fake-" + std::to_string(number) + "\r\n"
                      : missing;
    if (verb == "DELE") {
        if (!exists)
            return missing;
        deleted[static_cast<std::size_t>(number - 1)] = true;
        return "+OK Marked to be deleted.\r\n";
    }
    if (verb == "RSET") {
        deleted.assign(deleted.size(), false);
        return "+OK\r\n";
    }
    if (verb == "NOOP")
        return "+OK\r\n";
    if (verb == "TOP") {
        if (!exists || lines < 0)
            return missing;
        std::string reply = "+OK\r\n";
        bool body = false;
        int bodyLines = 0;
        for (const std::string& line : Lines(FMessages[static_cast<std::size_t>(number - 1)])) {
            if (body && bodyLines++ >= lines)
                break;
            reply += Stuffed(line) + "\r\n";
            body = body || line.empty();
        }
        return reply + ".\r\n";
    }
    return "-ERR Unknown command.\r\n";
}
