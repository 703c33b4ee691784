#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// One message of a maildrop, as it goes on the wire.
struct TSampleMessage
{
    // Where the maildrop keeps the message: for a folder, the path of its file.
    std::string Source;
    // RFC 1939 §7: 1 to 70 characters in the range 0x21 to 0x7E, the same in every session.
    std::string UniqueId;
    // Lines ended by CR LF, whatever the file used.
    std::string Text;
};

// What a POP3 session needs of the messages it serves: the maildrop to itself from the log-in
// until the session ends (RFC 1939 §4), the messages as they are at the log-in, and the removal
// at QUIT of those it deleted (RFC 1939 §6).
class IMaildrop
{
public:
    virtual ~IMaildrop() = default;
    // Waits up to waitMs for the session holding the maildrop to end; false when it did not.
    virtual bool TryLock(int waitMs) = 0;
    virtual void Unlock() = 0;
    // The messages in maildrop order. Throws std::runtime_error naming what could not be read.
    virtual std::vector<TSampleMessage> Load() = 0;
    // Removes a message the session deleted; one that someone else removed meanwhile is gone
    // all the same. False, with the reason in error, when the message stays.
    virtual bool Remove(const TSampleMessage& message, std::string& error) = 0;
};

// A folder of .eml files served as one POP3 maildrop. Only one session at a time may hold it.
class TSampleMaildrop : public IMaildrop
{
public:
    explicit TSampleMaildrop(std::string folder);

    const std::string& Folder() const { return FFolder; }

    // The wait covers a client that sends QUIT and connects again at once, before the server
    // has finished the first session.
    bool TryLock(int waitMs) override;
    void Unlock() override;
    // The folder's .eml files in name order.
    std::vector<TSampleMessage> Load() override;
    // Deletes the message's file.
    bool Remove(const TSampleMessage& message, std::string& error) override;

private:
    std::string FFolder;
    std::mutex FMutex;
    std::condition_variable FReleased;
    bool FLocked = false;
};

// The bytes with every line ended by CR LF: LF and CR LF ends are both taken, and a last line
// without an end gets one.
std::string ToWireText(const std::string& bytes);
// RFC 1939 §3: every line of a multi-line response that begins with "." gets one more.
std::string ByteStuff(const std::string& wireText);
// The header, the empty line after it and the first lineCount lines of the body; the whole
// text when it has no empty line.
std::string TopOfMessage(const std::string& wireText, std::size_t lineCount);
