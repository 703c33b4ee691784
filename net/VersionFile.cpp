#include "net/VersionFile.h"

#include "config/Connection.h"
#include "net/HttpClient.h"
#include "net/VendorHost.h"

#include <cctype>
#include <charconv>
#include <exception>

std::string VersionFileURL(const std::string& host)
{
    return WebAddress(host, VersionFilePath);
}

std::string VersionConnectingText(const std::string& host)
{
    return "Connecting to " + host;
}

std::string VersionCheckedText()
{
    return "Version checked successfully";
}

std::string VersionErrorText(const std::string& host)
{
    return "Error connecting to " + host;
}

std::vector<std::string> SplitVersionLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

double VersionNumber(const std::string& text, const std::string& decimalSeparator)
{
    const std::string separator = decimalSeparator.empty() ? "." : decimalSeparator;
    std::string local;
    for (char c : text) {
        if (c == '.')
            local += separator;
        else
            local += c;
    }

    // The number again in the form the standard conversion reads, whatever the locale.
    std::string plain;
    std::size_t i = 0;
    const auto digits = [&] {
        std::size_t count = 0;
        for (; i < local.size() && std::isdigit(static_cast<unsigned char>(local[i])) != 0;
             ++i, ++count)
            plain += local[i];
        return count;
    };
    const auto blanks = [&] {
        while (i < local.size() && local[i] == ' ')
            ++i;
    };
    const auto fail = [&text]() -> double {
        throw EVersionFileError("'" + text + "' is not a valid floating point value");
    };

    blanks();
    if (i < local.size() && (local[i] == '+' || local[i] == '-')) {
        if (local[i] == '-')
            plain += '-';
        ++i;
    }
    std::size_t mantissa = digits();
    if (local.compare(i, separator.size(), separator) == 0) {
        plain += '.';
        i += separator.size();
        mantissa += digits();
    }
    if (mantissa == 0)
        return fail();
    if (i < local.size() && (local[i] == 'e' || local[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < local.size() && (local[i] == '+' || local[i] == '-'))
            plain += local[i++];
        if (digits() == 0)
            return fail();
    }
    blanks();
    if (i != local.size())
        return fail();

    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size())
        return fail();
    return value;
}

TVersionCheckResult ReadVersionFile(const std::string& body, const std::string& host,
                                    const std::string& decimalSeparator,
                                    const std::string& installedVersion)
{
    TVersionCheckResult result;
    const std::vector<std::string> lines = SplitVersionLines(body);
    if (!lines.empty())
        result.LatestVersion = lines[0];
    if (lines.size() > 1)
        result.LatestDate = lines[1];
    if (lines.size() > 2)
        result.UpdateURL = lines[2];
    try {
        if (lines.size() < 3)
            throw EVersionFileError("The version file has " + std::to_string(lines.size()) +
                                    " of its 3 lines");
        const double latest = VersionNumber(lines[0], decimalSeparator);
        const double installed = VersionNumber(installedVersion, decimalSeparator);
        result.UpdateAvailable = latest > installed;
        result.Succeeded = true;
        result.StatusText = VersionCheckedText();
    } catch (const EVersionFileError& error) {
        result.StatusText = VersionErrorText(host);
        result.Error = error.what();
    }
    return result;
}

void ConfigureVersionHTTP(TSimpleHTTP& http, const TConnection& connection)
{
    http.SetConnectRetries(1);
    http.SetEnableCache(false);
    http.Port = 80;
    http.QuickProgress = false;
    http.SetConnectTimeout(300000);
    http.SilentExceptions = false;
    http.SetBlockSize(8192);
    http.SetEnableSSL(false);
    if (connection.UseProxy) {
        http.SetResolveNames(rnProxy);
        http.ProxyName = "http=" + connection.Proxy + ":" + std::to_string(connection.ProxyPort);
    } else {
        http.SetResolveNames(rnLocal);
        http.ProxyName.clear();
    }
}

TVersionCheckResult RunVersionCheck(TSimpleHTTP& http, const std::string& host,
                                    const std::string& decimalSeparator,
                                    const std::string& installedVersion)
{
    std::string body;
    const THTTPTransferProgressEvent previous = http.OnTransferProgress;
    http.OnTransferProgress = [&previous](TSimpleHTTP& sender, const THTTPProgressInfo& info) {
        if (info.BytesTransferred > MaxVersionFileSize)
            throw EVersionFileError("The version file is larger than " +
                                    std::to_string(MaxVersionFileSize) + " bytes");
        if (previous)
            previous(sender, info);
    };
    try {
        http.Get(VersionFileURL(host), body);
        http.OnTransferProgress = previous;
    } catch (const std::exception& error) {
        http.OnTransferProgress = previous;
        TVersionCheckResult result;
        result.StatusText = VersionErrorText(host);
        result.Error = error.what();
        return result;
    }
    return ReadVersionFile(body, host, decimalSeparator, installedVersion);
}
