#include "tools/SamplePop3Session.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

namespace {

class TSamplePop3SessionTest : public ::testing::Test
{
protected:
    void AddMessage(const std::string& name, const std::string& text)
    {
        WriteFile(FDir.File(name), text);
    }

    std::unique_ptr<TSamplePop3Session> LogIn(int lockWaitMs = 3000)
    {
        auto session = std::make_unique<TSamplePop3Session>(FMaildrop, "demo", "demo",
                                                            TSamplePop3Session::TLog(), lockWaitMs);
        EXPECT_EQ(session->Answer("USER demo"), "+OK send PASS\r\n");
        const std::string reply = session->Answer("PASS demo");
        EXPECT_EQ(reply.rfind("+OK maildrop has ", 0), 0u) << reply;
        return session;
    }

    bool Exists(const std::string& name) const { return std::filesystem::exists(FDir.File(name)); }

    TTempDir FDir;
    TSampleMaildrop FMaildrop{FDir.Path()};
};

// Log-in and the command grammar

TEST_F(TSamplePop3SessionTest, CommandsFollowTheStateOfTheSession)
{
    AddMessage("a.eml", "Subject: a\r\n\r\nbody\r\n");
    TSamplePop3Session session(FMaildrop, "demo", "demo");
    EXPECT_EQ(session.Answer("STAT"), "-ERR log in first\r\n");
    EXPECT_EQ(session.Answer("PASS demo"), "-ERR send USER first\r\n");
    EXPECT_EQ(session.Answer("USER demo"), "+OK send PASS\r\n");
    EXPECT_EQ(session.Answer("PASS wrong"), "-ERR [AUTH] invalid user name or password\r\n");
    EXPECT_EQ(session.Answer("PASS demo"), "-ERR send USER first\r\n")
        << "a refused password asks for the user again";
    EXPECT_EQ(session.Answer("USER Demo"), "+OK send PASS\r\n");
    EXPECT_EQ(session.Answer("PASS demo"), "-ERR [AUTH] invalid user name or password\r\n");
    EXPECT_EQ(session.Answer("FOO"), "-ERR unknown command\r\n");
    EXPECT_EQ(session.Answer(""), "-ERR empty command\r\n");

    // The program sends its commands in mixed case ("User", "Pass", "Quit").
    EXPECT_EQ(session.Answer("User demo"), "+OK send PASS\r\n");
    EXPECT_EQ(session.Answer("Pass demo"), "+OK maildrop has 1 messages (20 octets)\r\n");
    EXPECT_EQ(session.Answer("stat"), "+OK 1 20\r\n");
    EXPECT_EQ(session.Answer("USER demo"), "-ERR already logged in\r\n");
    EXPECT_EQ(session.Answer("NOOP"), "+OK\r\n");
    EXPECT_EQ(session.Answer("CAPA").find("\r\nPIPELINING\r\n") != std::string::npos, true);
    session.Capabilities = {"TOP"};
    EXPECT_EQ(session.Answer("capa"), "+OK capability list follows\r\nTOP\r\n.\r\n");
    session.Capabilities.clear();
    EXPECT_EQ(session.Answer("CAPA"), "-ERR unknown command\r\n") << "as to an older server";
    EXPECT_FALSE(session.Ended());
    EXPECT_EQ(session.Answer("Quit").rfind("+OK ", 0), 0u);
    EXPECT_TRUE(session.Ended());
    EXPECT_EQ(session.Answer("STAT"), "-ERR the session has ended\r\n");
}

TEST_F(TSamplePop3SessionTest, PasswordKeepsItsBlanks)
{
    TSamplePop3Session session(FMaildrop, "demo", " two words ");
    session.Answer("USER demo");
    EXPECT_EQ(session.Answer("PASS two words").rfind("-ERR", 0), 0u);
    session.Answer("USER demo");
    EXPECT_EQ(session.Answer("PASS  two words ").rfind("+OK", 0), 0u);
}

TEST_F(TSamplePop3SessionTest, MessageNumbersOutsideTheMaildropAreRefused)
{
    AddMessage("a.eml", "Subject: a\r\n\r\nbody\r\n");
    auto session = LogIn();
    for (const char* command : {"LIST 0", "LIST 2", "RETR 2", "DELE 0", "TOP 2 0", "UIDL 2"})
        EXPECT_EQ(session->Answer(command), "-ERR no such message\r\n") << command;
    for (const char* command :
         {"LIST x", "LIST 1x", "LIST -1", "LIST +1", "RETR", "DELE", "LIST 12345678901234567890"})
        EXPECT_EQ(session->Answer(command), "-ERR invalid message number\r\n") << command;
    for (const char* command : {"TOP 1", "TOP 1 -1", "TOP 1 x"})
        EXPECT_EQ(session->Answer(command), "-ERR TOP needs a message number and a line count\r\n")
            << command;
}

// Messages as they go on the wire

TEST_F(TSamplePop3SessionTest, LinesEndInCrLfWhateverTheFileUsedAndSizesCountThem)
{
    AddMessage("1.eml", "Subject: lf\n\nfirst\nsecond\n");
    AddMessage("2.eml", "Subject: no end\r\n\r\nlast line without an end");
    AddMessage("3.eml", "");
    auto session = LogIn();
    const std::string first = "Subject: lf\r\n\r\nfirst\r\nsecond\r\n";
    const std::string second = "Subject: no end\r\n\r\nlast line without an end\r\n";
    EXPECT_EQ(session->Answer("LIST"),
              "+OK 3 messages (" + std::to_string(first.size() + second.size()) + " octets)\r\n1 " +
                  std::to_string(first.size()) + "\r\n2 " + std::to_string(second.size()) +
                  "\r\n3 0\r\n.\r\n");
    EXPECT_EQ(session->Answer("RETR 1"),
              "+OK " + std::to_string(first.size()) + " octets\r\n" + first + ".\r\n");
    EXPECT_EQ(session->Answer("RETR 2"),
              "+OK " + std::to_string(second.size()) + " octets\r\n" + second + ".\r\n");
    EXPECT_EQ(session->Answer("RETR 3"), "+OK 0 octets\r\n.\r\n");
}

// RFC 1939 §3: without the extra dot, a line "." would end the response early.
TEST_F(TSamplePop3SessionTest, LinesStartingWithADotAreByteStuffed)
{
    const std::string text = ".Odd: header\r\n\r\n.\r\n..two\r\n.x\r\na.b\r\n";
    AddMessage("1.eml", text);
    auto session = LogIn();
    const std::string stuffed = "..Odd: header\r\n\r\n..\r\n...two\r\n..x\r\na.b\r\n.\r\n";
    EXPECT_EQ(session->Answer("RETR 1"),
              "+OK " + std::to_string(text.size()) + " octets\r\n" + stuffed);
    EXPECT_EQ(session->Answer("TOP 1 2"),
              "+OK top of message follows\r\n..Odd: header\r\n\r\n..\r\n...two\r\n.\r\n");
}

TEST_F(TSamplePop3SessionTest, TopGivesTheHeaderTheEmptyLineAndTheRequestedBodyLines)
{
    AddMessage("1.eml", "From: a\r\nSubject: b\r\n\r\none\r\n\r\nthree\r\n");
    AddMessage("2.eml", "From: a\r\nSubject: only a header\r\n");
    AddMessage("3.eml", "\r\nbody of a message without header\r\n");
    auto session = LogIn();
    const std::string ok = "+OK top of message follows\r\n";
    EXPECT_EQ(session->Answer("TOP 1 0"), ok + "From: a\r\nSubject: b\r\n\r\n.\r\n");
    EXPECT_EQ(session->Answer("TOP 1 2"), ok + "From: a\r\nSubject: b\r\n\r\none\r\n\r\n.\r\n");
    EXPECT_EQ(session->Answer("top 1 99"),
              ok + "From: a\r\nSubject: b\r\n\r\none\r\n\r\nthree\r\n.\r\n");
    EXPECT_EQ(session->Answer("TOP 2 0"), ok + "From: a\r\nSubject: only a header\r\n.\r\n");
    EXPECT_EQ(session->Answer("TOP 3 0"), ok + "\r\n.\r\n");
}

TEST_F(TSamplePop3SessionTest, UniqueIdsAreFileNamesOrDigestsOfThemAndStayTheSame)
{
    AddMessage("plain-name.eml", "Subject: a\r\n\r\n");
    AddMessage("name with blanks.eml", "Subject: b\r\n\r\n");
    AddMessage("zz-" + std::string(80, 'x') + ".eml", "Subject: c\r\n\r\n");
    auto session = LogIn();
    const std::string listing = session->Answer("UIDL");
    EXPECT_NE(listing.find("\r\n2 plain-name.eml\r\n"), std::string::npos) << listing;
    const std::string digest = session->Answer("UIDL 1");
    ASSERT_EQ(digest.size(), std::string("+OK 1 ").size() + 16 + 2) << digest;
    EXPECT_EQ(digest.find_first_not_of("0123456789ABCDEF", 6), digest.size() - 2) << digest;
    EXPECT_NE(session->Answer("UIDL 3"), digest);
    session->Answer("QUIT");

    auto again = LogIn();
    EXPECT_EQ(again->Answer("UIDL"), listing);
}

// Deletion

TEST_F(TSamplePop3SessionTest, DeletedMessagesLeaveTheListingsUntilRset)
{
    AddMessage("1.eml", "Subject: a\r\n\r\n");
    AddMessage("2.eml", "Subject: bb\r\n\r\n");
    auto session = LogIn();
    EXPECT_EQ(session->Answer("DELE 1"), "+OK message 1 deleted\r\n");
    EXPECT_EQ(session->Answer("DELE 1"), "-ERR message 1 already deleted\r\n");
    EXPECT_EQ(session->Answer("RETR 1"), "-ERR message 1 already deleted\r\n");
    EXPECT_EQ(session->Answer("TOP 1 0"), "-ERR message 1 already deleted\r\n");
    EXPECT_EQ(session->Answer("STAT"), "+OK 1 15\r\n");
    EXPECT_EQ(session->Answer("LIST"), "+OK 1 messages (15 octets)\r\n2 15\r\n.\r\n");
    EXPECT_EQ(session->Answer("UIDL"), "+OK unique-id listing follows\r\n2 2.eml\r\n.\r\n");
    EXPECT_EQ(session->Answer("RSET"), "+OK maildrop has 2 messages (29 octets)\r\n");
    EXPECT_EQ(session->Answer("LIST 1"), "+OK 1 14\r\n");
    EXPECT_EQ(session->Answer("QUIT").rfind("+OK", 0), 0u);
    EXPECT_TRUE(Exists("1.eml"));
    EXPECT_TRUE(Exists("2.eml"));
}

TEST_F(TSamplePop3SessionTest, QuitRemovesTheDeletedFilesAndOnlyThem)
{
    AddMessage("1.eml", "Subject: a\r\n\r\n");
    AddMessage("2.eml", "Subject: b\r\n\r\n");
    AddMessage("3.eml", "Subject: c\r\n\r\n");
    auto session = LogIn();
    session->Answer("DELE 1");
    session->Answer("DELE 3");
    EXPECT_TRUE(Exists("1.eml")) << "nothing is removed before QUIT";
    EXPECT_EQ(session->Answer("QUIT"),
              "+OK Mailbeacon sample POP3 server signing off (2 messages deleted)\r\n");
    EXPECT_FALSE(Exists("1.eml"));
    EXPECT_TRUE(Exists("2.eml"));
    EXPECT_FALSE(Exists("3.eml"));

    auto next = LogIn();
    EXPECT_EQ(next->Answer("STAT"), "+OK 1 14\r\n");
}

TEST_F(TSamplePop3SessionTest, SessionEndingWithoutQuitDeletesNothing)
{
    AddMessage("1.eml", "Subject: a\r\n\r\n");
    LogIn()->Answer("DELE 1");
    EXPECT_TRUE(Exists("1.eml"));
}

TEST_F(TSamplePop3SessionTest, AFileThatCannotBeRemovedIsReportedAtQuit)
{
    AddMessage("1.eml", "Subject: a\r\n\r\n");
    auto session = LogIn();
    session->Answer("DELE 1");
    // A folder that is not empty stands in for a file that cannot be removed, also for root.
    std::filesystem::remove(FDir.File("1.eml"));
    std::filesystem::create_directory(FDir.File("1.eml"));
    WriteFile(FDir.File("1.eml/keep"), "x");
    EXPECT_EQ(session->Answer("QUIT"), "-ERR some deleted messages not removed\r\n");
    EXPECT_TRUE(session->Ended());
}

// The maildrop lock

TEST_F(TSamplePop3SessionTest, OnlyOneSessionHoldsTheMaildrop)
{
    AddMessage("1.eml", "Subject: a\r\n\r\n");
    auto first = LogIn();
    TSamplePop3Session second(FMaildrop, "demo", "demo", {}, 50);
    second.Answer("USER demo");
    EXPECT_EQ(second.Answer("PASS demo"),
              "-ERR [IN-USE] the maildrop is in use by another session\r\n");
    first.reset();
    second.Answer("USER demo");
    EXPECT_EQ(second.Answer("PASS demo").rfind("+OK", 0), 0u)
        << "a session that ends without QUIT releases the maildrop as well";
}

// A client that sends QUIT and connects again at once must not be refused.
TEST_F(TSamplePop3SessionTest, LogInWaitsForTheSessionThatIsEnding)
{
    AddMessage("1.eml", "Subject: a\r\n\r\n");
    auto first = LogIn();
    first->Answer("DELE 1");
    std::thread quit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first->Answer("QUIT");
    });
    TSamplePop3Session second(FMaildrop, "demo", "demo", {}, 5000);
    second.Answer("USER demo");
    EXPECT_EQ(second.Answer("PASS demo"), "+OK maildrop has 0 messages (0 octets)\r\n");
    quit.join();
}

TEST_F(TSamplePop3SessionTest, UnreadableFolderRefusesTheLogInAndReleasesTheMaildrop)
{
    TSampleMaildrop missing(FDir.File("missing"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        TSamplePop3Session session(missing, "demo", "demo", {}, 50);
        session.Answer("USER demo");
        const std::string reply = session.Answer("PASS demo");
        EXPECT_EQ(reply.rfind("-ERR [SYS/TEMP] cannot read the folder " + FDir.File("missing"), 0),
                  0u)
            << reply;
    }
}

} // namespace
