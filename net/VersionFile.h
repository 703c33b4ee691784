#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct TConnection;
class TSimpleHTTP;

// The version of this program as the version window shows it.
inline constexpr const char* InstalledVersion = "2.0";
inline constexpr const char* InstalledDate = "Jun 13 2000";
// Where the vendor's web server publishes the latest version.
inline constexpr const char* VersionFilePath = "/versions/beaconer.dat";
// Anything larger is not a version file; reading stops there rather than fill the memory.
inline constexpr long long MaxVersionFileSize = 1024 * 1024;

// A version file that cannot be used: a missing line, or a version that is not a number.
class EVersionFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What one version check found, for the version window to show on the GUI thread. The
// latest-version fields hold the lines read before the check failed, if it did.
struct TVersionCheckResult
{
    bool Succeeded = false;
    std::optional<std::string> LatestVersion; // line 1
    std::optional<std::string> LatestDate;    // line 2
    std::optional<std::string> UpdateURL;     // line 3
    bool UpdateAvailable = false;             // the latest version is higher than installed
    std::string StatusText;                   // the status line's text
    std::string Error;                        // why the check failed, empty on success
};

// "http://" + host + the version file's path; a host with its own scheme keeps it
// (WebAddress).
std::string VersionFileURL(const std::string& host);
// The status line while the check runs, after a successful one, and after any failure.
std::string VersionConnectingText(const std::string& host);
std::string VersionCheckedText();
std::string VersionErrorText(const std::string& host);

// The lines of a text ended by CR LF, LF or CR, each kept exactly as it stands; a line break
// at the very end does not start another line.
std::vector<std::string> SplitVersionLines(std::string_view text);

// The version as a number, read the way the user's locale reads numbers: every "." becomes
// decimalSeparator first. Blanks around the number are allowed, nothing else. Throws
// EVersionFileError for any other text.
double VersionNumber(const std::string& text, const std::string& decimalSeparator);

// Reads a received version file against the installed version: the three lines are taken in
// order (a missing one ends the check as failed, the earlier ones kept), then the latest and the
// installed version are compared as numbers, so 2.10 equals 2.1 and 2.9 is newer than 2.10.
TVersionCheckResult ReadVersionFile(const std::string& body, const std::string& host,
                                    const std::string& decimalSeparator,
                                    const std::string& installedVersion = InstalledVersion);

// Sets up the version check's HTTP client: one connection attempt, no cache, port 80, a
// five-minute connect time-out, exceptions on, and the connection's proxy as "http=" + host +
// ":" + port when it uses one (whatever the connection type).
void ConfigureVersionHTTP(TSimpleHTTP& http, const TConnection& connection);

// Fetches the version file from host with http and reads it. Never throws: every failure ends
// in the status text "Error connecting to " + host, a body larger than MaxVersionFileSize too.
// Blocks until the request ends, so the window runs it on a worker thread (and may Cancel() the
// client from the GUI thread when it closes).
TVersionCheckResult RunVersionCheck(TSimpleHTTP& http, const std::string& host,
                                    const std::string& decimalSeparator,
                                    const std::string& installedVersion = InstalledVersion);
