#include "tests/support/TestCertificates.h"

#include "tests/support/PopServers.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

// The authority's settings for "openssl ca": any subject, the extensions of a server
// certificate, names and dates as each call gives them.
const char* const AuthorityConfig = "[ca]\n"
                                    "default_ca = test\n"
                                    "[test]\n"
                                    "database = db/index.txt\n"
                                    "new_certs_dir = db\n"
                                    "serial = db/serial\n"
                                    "default_md = sha256\n"
                                    "policy = any\n"
                                    "unique_subject = no\n"
                                    "copy_extensions = none\n"
                                    "[any]\n"
                                    "commonName = supplied\n";

// A small, quick key: elliptic curve P-256.
const std::vector<std::string> NewKey = {"-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes"};

} // namespace

std::string TTestCertificates::Binary()
{
    return FindProgram("openssl");
}

TTestCertificates::TTestCertificates()
{
    if (Binary().empty())
        throw std::runtime_error("openssl is not installed (Debian package openssl)");
    const std::string& dir = FFolder.Path();
    WriteFile(dir + "/ca.cnf", AuthorityConfig);
    std::filesystem::create_directories(dir + "/db");
    WriteFile(dir + "/db/index.txt", "");
    WriteFile(dir + "/db/serial", "01\n");
    FAuthorityFile = dir + "/authority.pem";
    FAuthorityKey = dir + "/authority.key";
    std::vector<std::string> request = {Binary(), "req", "-x509"};
    request.insert(request.end(), NewKey.begin(), NewKey.end());
    request.insert(request.end(),
                   {"-keyout", FAuthorityKey, "-out", FAuthorityFile, "-days", "3650", "-subj",
                    "/O=Mailbeacon tests/CN=Mailbeacon Test Authority", "-addext",
                    "basicConstraints=critical,CA:TRUE", "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign"});
    Run(request);
}

std::string TTestCertificates::NewName(const std::string& stem)
{
    return FFolder.Path() + "/" + stem + "-" + std::to_string(++FCount);
}

TTestCertificates::TCertificate TTestCertificates::Issue(const std::string& commonName,
                                                         const std::string& alternativeNames,
                                                         const std::string& startDate,
                                                         const std::string& endDate)
{
    const std::string base = NewName("server");
    TCertificate result{base + ".pem", base + ".key", {}};
    std::vector<std::string> request = {Binary(), "req"};
    request.insert(request.end(), NewKey.begin(), NewKey.end());
    request.insert(request.end(), {"-keyout", result.KeyFile, "-out", base + ".csr", "-subj",
                                   "/CN=" + commonName});
    Run(request);
    WriteFile(base + ".ext", "basicConstraints = CA:FALSE\n"
                             "extendedKeyUsage = serverAuth\n"
                             "subjectAltName = " +
                                 alternativeNames + "\n");
    std::vector<std::string> sign = {Binary(),   "ca",
                                     "-batch",   "-notext",
                                     "-config",  "ca.cnf",
                                     "-cert",    FAuthorityFile,
                                     "-keyfile", FAuthorityKey,
                                     "-in",      base + ".csr",
                                     "-out",     result.CertificateFile,
                                     "-extfile", base + ".ext"};
    if (startDate.empty() && endDate.empty()) {
        sign.insert(sign.end(), {"-days", "30"});
    } else {
        sign.insert(sign.end(), {"-startdate", startDate, "-enddate", endDate});
    }
    Run(sign);
    result.Fingerprint = FingerprintOf(result.CertificateFile);
    return result;
}

TTestCertificates::TCertificate TTestCertificates::SelfSigned(const std::string& commonName,
                                                              const std::string& alternativeNames)
{
    const std::string base = NewName("self-signed");
    TCertificate result{base + ".pem", base + ".key", {}};
    std::vector<std::string> request = {Binary(), "req", "-x509"};
    request.insert(request.end(), NewKey.begin(), NewKey.end());
    request.insert(request.end(),
                   {"-keyout", result.KeyFile, "-out", result.CertificateFile, "-days", "30",
                    "-subj", "/CN=" + commonName, "-addext", "subjectAltName=" + alternativeNames});
    Run(request);
    result.Fingerprint = FingerprintOf(result.CertificateFile);
    return result;
}

std::string TTestCertificates::FingerprintOf(const std::string& certificateFile)
{
    const std::string output = FFolder.File("fingerprint.txt");
    Run({Binary(), "x509", "-noout", "-fingerprint", "-sha256", "-in", certificateFile, "-out",
         output});
    // "sha256 Fingerprint=AB:CD:..."
    std::string text = ReadFile(output);
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos)
        throw std::runtime_error("openssl printed no fingerprint: " + text);
    text.erase(0, equals + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void TTestCertificates::Run(const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = arguments;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string log = FFolder.File("openssl.log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, FFolder.Path().c_str());
    pid_t pid = -1;
    const int started = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (started != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        throw std::runtime_error("certificate fixture: " + arguments[0] + " " +
                                 (arguments.size() > 1 ? arguments[1] : "") +
                                 " failed: " + ReadFile(log));
}

TScopedEnvironment::TScopedEnvironment(std::string name, const std::string& value)
    : FName(std::move(name))
{
    if (const char* old = std::getenv(FName.c_str()); old != nullptr) {
        FHadValue = true;
        FOldValue = old;
    }
    if (value.empty())
        ::unsetenv(FName.c_str());
    else
        ::setenv(FName.c_str(), value.c_str(), 1);
}

TScopedEnvironment::~TScopedEnvironment()
{
    if (FHadValue)
        ::setenv(FName.c_str(), FOldValue.c_str(), 1);
    else
        ::unsetenv(FName.c_str());
}
