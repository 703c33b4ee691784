#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// One message of the sample maildrop, as it goes on the wire.
struct TSampleMessage
{
    std::string FileName;
    // RFC 1939 §7: 1 to 70 characters in the range 0x21 to 0x7E, the same in every session.
    std::string UniqueId;
    // Lines ended by CR LF, whatever the file used.
    std::string Text;
};

// A folder of .eml files served as one POP3 maildrop. Only one session at a time may hold it
// (RFC 1939 §4: the maildrop is locked from the log-in until the session ends).
class TSampleMaildrop
{
public:
    explicit TSampleMaildrop(std::string folder);

    const std::string& Folder() const { return FFolder; }

    // Waits up to waitMs for the session holding the maildrop to end; false when it did not.
    // The wait covers a client that sends QUIT and connects again at once, before the
    // server has finished the first session.
    bool TryLock(int waitMs);
    void Unlock();

    // The folder's .eml files in name order. Throws std::runtime_error naming what could not
    // be read.
    std::vector<TSampleMessage> Load() const;

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
