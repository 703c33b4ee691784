#include "app/CheckCommand.h"

#include "app/CommandSupport.h"
#include "desktop/LocalTime.h"
#include "mail/CheckSummary.h"
#include "mail/HeaderCache.h"
#include "mail/MailCheck.h"
#include "pop3/HeaderText.h"
#include "pop3/Pop3Wire.h"

#include <QString>
#include <QTime>

#include <algorithm>
#include <atomic>
#include <ostream>

namespace {

constexpr int ExitAnswered = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const Usage = "usage: mailbeacon --check [--json] [--verbose] [--config FILE]\n";

struct TOptions
{
    bool Json = false;
    bool Verbose = false;
};

// A field of a tab-separated line: a tab inside would split it.
std::string Field(const std::string& text)
{
    std::string field = OneLine(text);
    for (char& c : field)
        if (c == '\t')
            c = ' ';
    return field;
}

// What the check reports, gathered for the output; status texts and log lines go to the
// error stream as they happen when asked to.
class TCommandLineEvents : public ICheckEvents
{
public:
    TCommandLineEvents(const TOptions& options, std::ostream& out, std::ostream& err)
        : FOptions(options)
        , FOut(out)
        , FErr(err)
    {}

    void Status(const std::string& text) override
    {
        if (FOptions.Verbose)
            FErr << OneLine(text) << std::endl;
    }

    void Failure(const std::string& text, TFailureReport report) override
    {
        ++Errors;
        Log.push_back(text);
        if (FOptions.Verbose && report != TFailureReport::AlreadyPosted)
            FErr << OneLine(text) << std::endl;
    }

    void LogEntry(const std::string& text) override
    {
        Log.push_back(text);
        if (FOptions.Verbose)
            FErr << OneLine(text) << std::endl;
    }

    // Without --verbose, the failed account and why are all that reaches the error stream;
    // with it, the log lines above already said both.
    void AccountFailed(const std::string& accountName, const std::string& reason) override
    {
        if (!FOptions.Verbose)
            FErr << "mailbeacon: " << OneLine(accountName) << ": " << OneLine(reason) << std::endl;
    }

    void ListRow(const TMessageRow& row) override
    {
        Rows.push_back(row);
        if (!FOptions.Json)
            FOut << Field(row.AccountName) << '\t' << Field(row.From) << '\t' << Field(row.Subject)
                 << '\t' << Field(row.Date) << '\t' << Field(row.Size) << std::endl;
    }

    int Errors = 0;
    std::vector<std::string> Log;
    std::vector<TMessageRow> Rows;

private:
    const TOptions& FOptions;
    std::ostream& FOut;
    std::ostream& FErr;
};

void WriteJson(std::ostream& out, const std::string& summary, const TCommandLineEvents& events)
{
    const std::size_t total = events.Rows.size();
    const auto fresh = std::count_if(events.Rows.begin(), events.Rows.end(),
                                     [](const TMessageRow& row) { return !row.Cached; });
    out << "{\"summary\": " << JsonString(summary) << ", \"total\": " << total
        << ", \"new\": " << fresh << ", \"errors\": " << events.Errors << ", \"rows\": [";
    for (std::size_t index = 0; index < total; ++index) {
        const TMessageRow& row = events.Rows[index];
        out << (index > 0 ? ", " : "") << "{\"account\": " << JsonString(row.AccountName)
            << ", \"from\": " << JsonString(row.From)
            << ", \"subject\": " << JsonString(row.Subject)
            << ", \"date\": " << JsonString(row.Date) << ", \"date_iso\": "
            << (row.DateIso.empty() ? std::string("null") : JsonString(row.DateIso))
            << ", \"size\": " << JsonString(row.Size) << ", \"size_bytes\": " << row.SizeBytes
            << ", \"to\": " << JsonString(DecodeHeaderText(row.To))
            << ", \"to_list\": " << JsonArray(row.ToList)
            << ", \"address\": " << JsonString(row.SenderAddress) << ", \"number\": " << row.Number
            << ", \"message_id\": " << JsonString(row.MessageId)
            << ", \"uid\": " << (row.Uid.empty() ? std::string("null") : JsonString(row.Uid))
            << ", \"new\": " << (row.Cached ? "false" : "true") << "}";
    }
    out << "], \"log\": [";
    for (std::size_t index = 0; index < events.Log.size(); ++index)
        out << (index > 0 ? ", " : "") << JsonString(events.Log[index]);
    out << "]}" << std::endl;
}

} // namespace

bool IsCheckCommand(const std::vector<std::string>& arguments)
{
    for (const std::string& argument : arguments)
        if (argument == "--check" || argument == "--json" || argument == "--verbose")
            return true;
    return false;
}

int RunCheckCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    TOptions options;
    bool check = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--check") {
            check = true;
        } else if (argument == "--json") {
            options.Json = true;
        } else if (argument == "--verbose") {
            options.Verbose = true;
        } else if (argument == "--config") {
            if (++index == arguments.size()) {
                err << "mailbeacon: --config needs a file name\n" << Usage;
                return ExitUsage;
            }
        } else if (argument.rfind("--config=", 0) != 0) {
            err << "mailbeacon: unknown option " << OneLine(argument) << "\n" << Usage;
            return ExitUsage;
        }
    }
    if (!check) {
        err << "mailbeacon: --json and --verbose go with --check\n" << Usage;
        return ExitUsage;
    }

    const std::optional<TStoredSettings> settings = ReadStoredSettings(arguments, err);
    if (!settings)
        return ExitUsage;
    TCheckRequest request;
    for (const std::shared_ptr<TAccount>& account : settings->Accounts)
        request.Accounts.push_back(SnapshotOf(account));
    request.DateSeparator = DateSeparator().toStdString();

    // The window's cache: a repeat check asks only for the headers of messages it has not seen.
    THeaderCaches caches;
    request.Caches = &caches;
    TCommandLineEvents events(options, out, err);
    TWirePOP3 client;
    const std::atomic<bool> cancel{false};
    CheckMail(client, request, events, cancel);

    const std::string summary =
        CheckSummary(LongTimeText(QTime::currentTime()).toStdString(), events.Errors);
    if (options.Json)
        WriteJson(out, summary, events);
    else
        out << OneLine(summary) << std::endl;
    return events.Errors == 0 ? ExitAnswered : ExitFailed;
}
