#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted POP3 server on 127.0.0.1 for one test. The script is a list of steps played in
// order on one connection after another: send bytes (whole, in separate TCP segments, or
// without end), read a line from the client, pause, close, answer commands through a
// handler. Every line the client sent is recorded, so a test can check both what its client
// returned and the exact commands it wrote.
class TFakePop3Server
{
public:
    // Answers one command line; the text returned is sent as it is (CR LF included).
    using THandler = std::function<std::string(const std::string& command)>;

    TFakePop3Server();
    ~TFakePop3Server();
    TFakePop3Server(const TFakePop3Server&) = delete;
    TFakePop3Server& operator=(const TFakePop3Server&) = delete;

    std::uint16_t Port() const { return FPort; }

    // Script steps; add them before Start().
    TFakePop3Server& Send(std::string bytes);
    // line + CR LF.
    TFakePop3Server& Reply(const std::string& line);
    // A greeting, CAPA answered with capabilities (CR LF included), then any USER and PASS
    // accepted one at a time.
    TFakePop3Server& LogInOpening(const std::string& capabilities = "-ERR unknown command\r\n");
    // The opening of a check that goes one command at a time: greeting, CAPA refused, any
    // log-in, STAT answered with statReply, and UIDL refused.
    TFakePop3Server& CheckOpening(const std::string& statReply);
    // The bytes in pieces of pieceSize, each written on its own after a pause, so that each
    // arrives in a TCP segment of its own.
    TFakePop3Server& SendInPieces(std::string bytes, std::size_t pieceSize, int pauseMs = 5);
    // The pattern again and again, until the client stops reading or limit bytes are out.
    TFakePop3Server& SendEndless(std::string pattern, std::size_t limit = 64u << 20);
    // Reads one line from the client; expected, when given, is compared with it.
    TFakePop3Server& Receive(std::string expected = {});
    TFakePop3Server& Pause(int milliseconds);
    // Closes the connection; the next step waits for the client's next connection.
    TFakePop3Server& Close();
    // Answers command lines through the handler until the client sends "QUIT" in any case
    // (answered, then the connection is closed) or closes the connection.
    TFakePop3Server& Serve(THandler handler);

    void Start();
    // Waits until the script has run to its end (or stopped), at most timeoutMs.
    bool WaitDone(int timeoutMs = 10000);
    // Every line the client sent, in order, across all connections.
    std::vector<std::string> Commands();
    // Empty when every step ran and every expected line came; else what went wrong.
    std::string Problems();
    int Connections() const { return FConnections.load(); }

private:
    struct TStep
    {
        enum TKind
        {
            SendBytes,
            SendPieces,
            SendForever,
            ReceiveLine,
            Wait,
            CloseConnection,
            ServeCommands
        } Kind;
        std::string Bytes;
        std::size_t Size = 0;
        int Milliseconds = 0;
        THandler Handler;
    };

    void Run();
    bool EnsureClient();
    bool WriteAll(const char* data, std::size_t count);
    // False when the client closed or the server is stopping.
    bool ReadClientLine(std::string& line);
    void Record(const std::string& line);
    void Problem(const std::string& text);
    void CloseClient();
    bool SleepFor(int milliseconds);

    int FListener = -1;
    int FClient = -1;
    std::uint16_t FPort = 0;
    std::vector<TStep> FSteps;
    std::string FPending;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDone{false};
    std::atomic<int> FConnections{0};
    std::mutex FLock;
    std::vector<std::string> FCommands;
    std::string FProblems;
};
