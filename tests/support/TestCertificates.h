#pragma once

#include "tests/support/TempDir.h"

#include <string>
#include <vector>

// A certificate authority of the test's own and the certificates it issues, made with the
// openssl command line in a temporary folder. SSL_CERT_FILE pointed at AuthorityFile() makes a
// process trust the authority (OpenSSL's default store then holds it alone).
class TTestCertificates
{
public:
    struct TCertificate
    {
        std::string CertificateFile;
        std::string KeyFile;
        // SHA-256 as the openssl tool prints it: upper-case hex pairs joined by colons.
        std::string Fingerprint;
    };

    // Empty when openssl is not installed.
    static std::string Binary();

    // Makes the authority. Throws std::runtime_error with the tool's output when it fails.
    TTestCertificates();

    const std::string& AuthorityFile() const { return FAuthorityFile; }
    const std::string& Folder() const { return FFolder.Path(); }

    // A server certificate from the authority for commonName, with the subject alternative
    // names given as openssl writes them ("IP:127.0.0.1,DNS:localhost"). The dates, in the
    // openssl form YYYYMMDDHHMMSSZ, default to now and thirty days from now.
    TCertificate Issue(const std::string& commonName, const std::string& alternativeNames,
                       const std::string& startDate = {}, const std::string& endDate = {});
    // A certificate that signs itself, for the names as above.
    TCertificate SelfSigned(const std::string& commonName, const std::string& alternativeNames);

private:
    void Run(const std::vector<std::string>& arguments);
    std::string FingerprintOf(const std::string& certificateFile);
    std::string NewName(const std::string& stem);

    TTempDir FFolder;
    std::string FAuthorityFile;
    std::string FAuthorityKey;
    int FCount = 0;
};

// The environment variable set for the life of this object, as it was before afterwards.
class TScopedEnvironment
{
public:
    // An empty value unsets it.
    TScopedEnvironment(std::string name, const std::string& value);
    ~TScopedEnvironment();
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

private:
    std::string FName;
    bool FHadValue = false;
    std::string FOldValue;
};
