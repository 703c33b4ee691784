#include "net/VersionFile.h"

#include "config/Connection.h"
#include "net/HttpClient.h"
#include "tests/support/HttpFixtureServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

// The version file's lines

TEST(VersionFile, LinesEndInCrLfLfOrCrAndAreNotTrimmed)
{
    EXPECT_EQ(SplitVersionLines("2.1\r\nJul 2 2000\r\nhttp://x/\r\n"),
              (TLines{"2.1", "Jul 2 2000", "http://x/"}));
    EXPECT_EQ(SplitVersionLines("2.1\nJul 2 2000\rhttp://x/"),
              (TLines{"2.1", "Jul 2 2000", "http://x/"}));
    EXPECT_EQ(SplitVersionLines(" 2.1 \n\tdate\n"), (TLines{" 2.1 ", "\tdate"}));
    EXPECT_EQ(SplitVersionLines("a\n\rb"), (TLines{"a", "", "b"}));
    EXPECT_EQ(SplitVersionLines("a\r\n\r\n"), (TLines{"a", ""}));
    EXPECT_EQ(SplitVersionLines(""), TLines{});
}

struct TNumberRow
{
    const char* Text;
    const char* Separator;
    double Value; // ignored when the text must fail
    bool Valid;
};

class VersionNumberTable : public ::testing::TestWithParam<TNumberRow>
{};

TEST_P(VersionNumberTable, ReadsAsTheLocaleDoes)
{
    const TNumberRow& row = GetParam();
    if (row.Valid) {
        EXPECT_DOUBLE_EQ(VersionNumber(row.Text, row.Separator), row.Value);
    } else {
        EXPECT_THROW(VersionNumber(row.Text, row.Separator), EVersionFileError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionNumberTable,
    ::testing::Values(TNumberRow{"2.1", ".", 2.1, true}, TNumberRow{"2.10", ".", 2.1, true},
                      TNumberRow{"2.1", ",", 2.1, true}, TNumberRow{"2,1", ",", 2.1, true},
                      TNumberRow{"2", ".", 2, true}, TNumberRow{" 2.5 ", ".", 2.5, true},
                      TNumberRow{"-1.5e1", ".", -15, true}, TNumberRow{"2.1", "\u066b", 2.1, true},
                      TNumberRow{"2,1", ".", 0, false}, TNumberRow{"2.1a", ".", 0, false},
                      TNumberRow{"v2.1", ".", 0, false}, TNumberRow{"\t2.1", ".", 0, false},
                      TNumberRow{"", ".", 0, false}, TNumberRow{".", ".", 0, false},
                      TNumberRow{"1e", ".", 0, false}, TNumberRow{"1e999", ".", 0, false},
                      TNumberRow{"<html>", ".", 0, false}));

// Reading a received file

TEST(VersionFile, NewerEqualAndOlderVersions)
{
    const auto newer =
        ReadVersionFile("2.1\r\nJul 2 2000\r\nhttp://vendor.example/dl\r\n", "vendor.example", ".");
    EXPECT_TRUE(newer.Succeeded);
    EXPECT_TRUE(newer.UpdateAvailable);
    EXPECT_EQ(newer.LatestVersion, "2.1");
    EXPECT_EQ(newer.LatestDate, "Jul 2 2000");
    EXPECT_EQ(newer.UpdateURL, "http://vendor.example/dl");
    EXPECT_EQ(newer.StatusText, "Version checked successfully");
    EXPECT_EQ(newer.Error, "");

    EXPECT_FALSE(ReadVersionFile("2.0\nd\nu", "h", ".").UpdateAvailable);
    EXPECT_FALSE(ReadVersionFile("1.9\nd\nu", "h", ".").UpdateAvailable);
    EXPECT_FALSE(ReadVersionFile("2.10\nd\nu", "h", ".", "2.1").UpdateAvailable);
    EXPECT_TRUE(ReadVersionFile("2.9\nd\nu", "h", ".", "2.10").UpdateAvailable);
    EXPECT_TRUE(ReadVersionFile("2.1\nd\nu", "h", ",").UpdateAvailable);
}

TEST(VersionFile, MissingLinesFailAfterTheEarlierOnesAreShown)
{
    const auto twoLines = ReadVersionFile("2.1\r\nJul 2 2000\r\n", "vendor.example", ".");
    EXPECT_FALSE(twoLines.Succeeded);
    EXPECT_FALSE(twoLines.UpdateAvailable);
    EXPECT_EQ(twoLines.LatestVersion, "2.1");
    EXPECT_EQ(twoLines.LatestDate, "Jul 2 2000");
    EXPECT_FALSE(twoLines.UpdateURL.has_value());
    EXPECT_EQ(twoLines.StatusText, "Error connecting to vendor.example");
    EXPECT_FALSE(twoLines.Error.empty());

    const auto empty = ReadVersionFile("", "vendor.example", ".");
    EXPECT_FALSE(empty.LatestVersion.has_value());
    EXPECT_EQ(empty.StatusText, "Error connecting to vendor.example");
}

TEST(VersionFile, VersionThatIsNotANumberFailsButIsShown)
{
    const auto page = ReadVersionFile("<html>\n<body>Not Found</body>\n</html>\n", "h", ".");
    EXPECT_FALSE(page.Succeeded);
    EXPECT_FALSE(page.UpdateAvailable);
    EXPECT_EQ(page.LatestVersion, "<html>");
    EXPECT_EQ(page.StatusText, "Error connecting to h");
    EXPECT_EQ(page.Error, "'<html>' is not a valid floating point value");
}

TEST(VersionFile, ClientSetUpWithAndWithoutProxy)
{
    TSimpleHTTP http;
    TConnection connection;
    connection.UseProxy = true;
    connection.Proxy = "h";
    connection.ProxyPort = 3128;
    connection.ConnectionType = TConnection::DialUp;
    ConfigureVersionHTTP(http, connection);
    EXPECT_EQ(http.ResolveNames(), rnProxy);
    EXPECT_EQ(http.ProxyName, "http=h:3128");
    EXPECT_EQ(http.ConnectRetries(), 1u);
    EXPECT_EQ(http.ConnectTimeout(), 300000u);
    EXPECT_FALSE(http.EnableCache());
    EXPECT_FALSE(http.SilentExceptions);

    connection.UseProxy = false;
    ConfigureVersionHTTP(http, connection);
    EXPECT_EQ(http.ResolveNames(), rnLocal);
    EXPECT_EQ(http.ProxyName, "");
}

// The whole check against a server

class VersionCheckServer : public ::testing::Test
{
protected:
    VersionCheckServer() { ConfigureVersionHTTP(Http, TConnection()); }

    TVersionCheckResult Check() { return RunVersionCheck(Http, Server.Host(), "."); }

    THttpFixtureServer Server;
    TSimpleHTTP Http;
};

TEST_F(VersionCheckServer, NewerVersionOffersTheUpdate)
{
    Server.Serve(VersionFilePath, THttpFixtureServer::WithoutLength(
                                      "2.1\r\nJul 2 2000\r\nhttp://vendor.example/download\r\n"));
    const auto result = Check();
    EXPECT_TRUE(result.Succeeded) << result.Error;
    EXPECT_TRUE(result.UpdateAvailable);
    EXPECT_EQ(result.UpdateURL, "http://vendor.example/download");
    EXPECT_EQ(result.StatusText, "Version checked successfully");
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].Target, "/versions/beaconer.dat");
    EXPECT_EQ(Http.State(), wisNotConnected);
}

TEST_F(VersionCheckServer, ErrorPageAndUnreachableServerEndInTheErrorText)
{
    const auto page = Check(); // nothing served: the server's 404 page is the file
    EXPECT_FALSE(page.Succeeded);
    EXPECT_EQ(page.LatestVersion, "<html><body>No such page: /versions/beaconer.dat</body></html>");
    EXPECT_EQ(page.StatusText, "Error connecting to " + Server.Host());

    const std::string closed = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    const auto refused = RunVersionCheck(Http, closed, ".");
    EXPECT_FALSE(refused.Succeeded);
    EXPECT_FALSE(refused.LatestVersion.has_value());
    EXPECT_EQ(refused.StatusText, "Error connecting to " + closed);
    EXPECT_EQ(refused.Error, "Unable to connect to 127.0.0.1");

    Server.Serve(VersionFilePath,
                 THttpFixtureServer::Ok("2.1\nd\nu\n" + std::string(MaxVersionFileSize, ' ')));
    const auto huge = Check();
    EXPECT_FALSE(huge.Succeeded);
    EXPECT_EQ(huge.Error, "The version file is larger than 1048576 bytes");
    EXPECT_FALSE(static_cast<bool>(Http.OnTransferProgress));
}

} // namespace
