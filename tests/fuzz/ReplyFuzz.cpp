// Reply parsing from arbitrary bytes: the input is everything a server sends during one
// session (greeting, log-in, STAT, TOP, LIST, DELE, a preview, a pipelined listing), delivered in
// pieces whose size the first byte chooses. Whatever arrives, the client must end with a result or
// one of its exceptions, keep its results within their ranges, and never read past the input.
#include "pop3/Pop3Wire.h"
#include "pop3/SocketApi.h"
#include "pop3/WireMessage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// A socket library whose one connection replays the input as the server's bytes and
// swallows whatever the client writes.
class TReplayWinsock : public TWinsockIntfBase
{
public:
    TReplayWinsock(const std::uint8_t* data, std::size_t size, std::size_t piece)
        : FData(data)
        , FSize(size)
        , FPiece(piece)
    {}

    std::size_t Position() const { return FPosition; }

    int connect(TSocketHandle, const TSocketAddress&, int) override { return 0; }
    std::uint32_t inet_addr(const std::string&) override { return 0x0100007F; }
    std::vector<TSocketAddress> gethostbyname(const std::string&, std::uint16_t) override
    {
        return {};
    }
    std::string TranslateSocketError(int number) override { return SocketErrorText(number); }
    int WSAGetLastError() override { return 10054; }
    long recv(TSocketHandle s, char* buffer, std::size_t length, int, int) override
    {
        Require(s == Handle && length > 0);
        const std::size_t count = std::min({length, FPiece, FSize - FPosition});
        std::memcpy(buffer, FData + FPosition, count);
        FPosition += count;
        return static_cast<long>(count);
    }
    long send(TSocketHandle s, const char*, std::size_t length, int, int) override
    {
        Require(s == Handle);
        return static_cast<long>(length);
    }
    int setsockopt(TSocketHandle, int, int, const void*, unsigned) override { return 0; }
    std::string inet_ntoa(const TSocketAddress&) override { return "127.0.0.1"; }
    int closesocket(TSocketHandle s) override
    {
        Require(s == Handle);
        return 0;
    }
    TSocketHandle socket(int, int, int) override { return Handle; }

    static constexpr TSocketHandle Handle = 1000;

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPiece;
    std::size_t FPosition = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    TReplayWinsock winsock(data + 1, size - 1, 1 + data[0] % 64);
    TWirePOP3 client;
    client.SetWinsock(winsock);
    client.Host = "127.0.0.1";
    client.UserID = "user";
    client.Password = "password";
    client.SetBufferChunk(64);
    client.MaxResponseSize = 1 << 16;
    TWireMessage message;
    try {
        client.Connect();
        const std::int32_t count = client.CheckMessages();
        Require(count >= 0);
        if (client.Connected())
            client.RetrieveHeader(1, message);
        if (client.Connected()) {
            const std::int32_t size1 = client.RetrieveSize(1);
            Require(size1 >= -1);
        }
        if (client.Connected())
            client.Delete(1);
        if (client.Connected()) {
            client.BeginPreview(1, 5);
            client.ReadPreview();
        }
        // A pipelined listing stopped after its first message: the replies still due are
        // dropped, whatever they hold.
        if (client.Connected()) {
            client.StartListing(3, true);
            const TListedMessage listed = client.ListNext(message);
            Require(listed.Number == 1 && listed.Size >= -1);
            client.EndListing();
            Require(!client.ListingPending());
        }
        if (client.Connected())
            client.ReadReply();
    } catch (const EWireException&) {
    }
    try {
        client.Disconnect();
    } catch (const EWireException&) {
    }
    Require(!client.Connected());
    Require(client.InBufferEnd() == 1);
    Require(winsock.Position() <= size - 1);
    return 0;
}
