#include "config/Connection.h"
#include "net/HttpClient.h"
#include "net/VersionFile.h"
#include "tests/support/HttpFixtureServer.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/TinyProxy.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using TTexts = std::vector<std::string>;

// A fixture server and a real tinyproxy in front of it.
class HttpThroughProxy : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!TTinyProxy::Available())
            GTEST_SKIP() << "tinyproxy is not installed; scripts/deps installs it";
        Proxy = std::make_unique<TTinyProxy>();
        Http.SetResolveNames(rnProxy);
        Http.ProxyName = "http=127.0.0.1:" + std::to_string(Proxy->Port());
        Http.SetReceiveTimeout(5000);
        Http.OnStateChange = [this](TWinInetControl& sender, TWinInetState) {
            States.push_back(sender.StateText());
        };
    }

    THttpFixtureServer Server;
    std::unique_ptr<TTinyProxy> Proxy;
    TSimpleHTTP Http;
    TTexts States;
};

TEST_F(HttpThroughProxy, RequestGoesThroughTheNamedProxy)
{
    Server.Serve("/file", THttpFixtureServer::Ok("through the proxy"));
    std::string body;
    Http.Get(Server.Url("/file"), body);
    EXPECT_EQ(body, "through the proxy");

    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].Header("Via").find("tinyproxy"), std::string::npos)
        << "the server was reached without the proxy";
    EXPECT_NE(Proxy->Log().find("GET " + Server.Url("/file")), std::string::npos) << Proxy->Log();
    // The host in the texts is the server's, whichever address the connection goes to.
    EXPECT_EQ(States,
              (TTexts{"Resolving name 127.0.0.1", "Resolved name 127.0.0.1",
                      "Connecting to 127.0.0.1", "Connected to 127.0.0.1", "No connection"}));
}

TEST_F(HttpThroughProxy, BypassedHostIsReachedDirectly)
{
    Server.Serve("/file", THttpFixtureServer::Ok("direct"));
    Http.SetProxyBypassList({"localhost", "127.0.0.1"});
    std::string body;
    Http.Get(Server.Url("/file"), body);
    EXPECT_EQ(body, "direct");
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_FALSE(Server.Requests()[0].HasHeader("Via"));
}

TEST_F(HttpThroughProxy, VersionCheckUsesTheConnectionsProxy)
{
    Server.Serve(VersionFilePath,
                 THttpFixtureServer::Ok("2.1\nJul 2 2000\nhttp://vendor.example/\n"));
    TConnection connection;
    connection.UseProxy = true;
    connection.Proxy = "127.0.0.1";
    connection.ProxyPort = Proxy->Port();
    TSimpleHTTP http;
    ConfigureVersionHTTP(http, connection);
    const auto result = RunVersionCheck(http, Server.Host(), ".");
    EXPECT_TRUE(result.Succeeded) << result.Error;
    EXPECT_TRUE(result.UpdateAvailable);
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_NE(Server.Requests()[0].Header("Via").find("tinyproxy"), std::string::npos);
}

TEST_F(HttpThroughProxy, UnreachableServerBehindTheProxyGivesItsErrorPage)
{
    // The proxy answers for a server it cannot reach; the status is not examined, so its page
    // is the body, and the version check then fails on it.
    const std::string closed = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    std::string body;
    Http.Get("http://" + closed + "/x", body);
    EXPECT_NE(body.find("<html"), std::string::npos) << body;
}

// Names that do not resolve: inside a network namespace of the test's own, where no look-up
// can leave the machine.

TEST(HttpNameResolution, UnresolvableHostAndProxy)
{
    // A name service daemon would answer from outside the namespace, over its file socket.
    for (const char* socket : {"/var/run/nscd/socket", "/run/systemd/resolve/io.systemd.Resolve"}) {
        if (::access(socket, F_OK) == 0)
            GTEST_SKIP() << socket << " exists: a look-up could leave the namespace through it";
    }
    TTexts states;
    std::string hostError, proxyError, whyNot;
    const bool ran = RunInOwnNetworkNamespace(
        [&] {
            TSimpleHTTP http;
            http.SetConnectTimeout(5000);
            http.OnStateChange = [&](TWinInetControl& sender, TWinInetState) {
                states.push_back(sender.StateText());
            };
            std::string body;
            try {
                http.Get("http://versions.mailbeacon.invalid/versions/beaconer.dat", body);
            } catch (const EWinInetError& error) {
                hostError = error.what();
            }
            http.OnStateChange = nullptr;
            http.SetResolveNames(rnProxy);
            http.ProxyName = "http=proxy.mailbeacon.invalid:3128";
            try {
                http.Get("http://127.0.0.1/", body);
            } catch (const EWinInetError& error) {
                proxyError = error.what();
            }
        },
        whyNot);
    if (!ran)
        GTEST_SKIP() << "no network namespace can be made here: " << whyNot;
    EXPECT_EQ(hostError, "Unable to resolve host name 'versions.mailbeacon.invalid'");
    EXPECT_EQ(states, (TTexts{"Resolving name versions.mailbeacon.invalid", "No connection"}));
    EXPECT_EQ(proxyError, "Unable to resolve host name '127.0.0.1'");
}

} // namespace
