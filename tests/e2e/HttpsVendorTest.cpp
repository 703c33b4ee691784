// The version check against a vendor host reached over HTTPS: the openssl tool serves the
// version file with a certificate of the test's own authority.
#include "config/Connection.h"
#include "net/HttpClient.h"
#include "net/VersionFile.h"
#include "tests/support/PopServers.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

class HttpsVendorHost : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (TTestCertificates::Binary().empty())
            GTEST_SKIP() << "openssl is not installed (Debian package openssl)";
        Pki = std::make_unique<TTestCertificates>();
        const TTestCertificates::TCertificate certificate = Pki->Issue("127.0.0.1", "IP:127.0.0.1");
        std::filesystem::create_directories(Site.File("versions"));
        WriteFile(Site.File("versions/beaconer.dat"),
                  "2.1\r\nJul 2 2000\r\nhttps://vendor.example/download\r\n");
        Port = FreeLoopbackPort();
        // -WWW serves the files below the working folder.
        Server.Start("/bin/sh",
                     {"-c", "cd '" + Site.Path() + "' && exec '" + TTestCertificates::Binary() +
                                "' s_server -quiet -WWW -accept 127.0.0.1:" + std::to_string(Port) +
                                " -cert '" + certificate.CertificateFile + "' -key '" +
                                certificate.KeyFile + "'"},
                     Pki->Folder() + "/s_server.log");
        Server.WaitForListener(Port, "openssl s_server");
        ConfigureVersionHTTP(Http, TConnection());
    }

    TVersionCheckResult Check()
    {
        return RunVersionCheck(Http, "https://127.0.0.1:" + std::to_string(Port), ".");
    }

    std::unique_ptr<TTestCertificates> Pki;
    TTempDir Site;
    std::uint16_t Port = 0;
    TServerProcess Server;
    TSimpleHTTP Http;
};

} // namespace

TEST_F(HttpsVendorHost, VersionCheckReadsTheFileOnlyFromAServerTheAuthoritiesVouchFor)
{
    const TVersionCheckResult untrusted = Check();
    EXPECT_FALSE(untrusted.Succeeded);
    EXPECT_FALSE(untrusted.LatestVersion.has_value());
    // The library's own words say why.
    EXPECT_NE(Http.LastResponseText().find("certificate"), std::string::npos)
        << untrusted.Error << " / " << Http.LastResponseText();

    const TScopedEnvironment trust("SSL_CERT_FILE", Pki->AuthorityFile());
    const TVersionCheckResult trusted = Check();
    EXPECT_TRUE(trusted.Succeeded) << trusted.Error;
    EXPECT_EQ(trusted.LatestVersion, "2.1");
    EXPECT_EQ(trusted.UpdateURL, "https://vendor.example/download");
}
