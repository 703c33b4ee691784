#include "app/PreviewCommand.h"

#include "app/CommandSupport.h"
#include "config/RegTree.h"
#include "desktop/LocalTime.h"
#include "mail/CheckSummary.h"
#include "mail/MailPreview.h"
#include "pop3/Pop3Wire.h"
#include "pop3/StrUtils.h"

#include <QString>
#include <QTime>

#include <atomic>
#include <optional>
#include <ostream>

namespace {

constexpr int ExitShown = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const Usage = "usage: mailbeacon --preview ACCOUNT NUMBER [--json] [--config FILE]\n";

struct TOptions
{
    std::string Account;
    std::int32_t Number = 0;
    bool Json = false;
};

// The options, or nullopt after the reason and the usage went to err.
std::optional<TOptions> ParseOptions(const std::vector<std::string>& arguments, std::ostream& err)
{
    TOptions options;
    bool preview = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--preview") {
            if (index + 2 >= arguments.size()) {
                err << "mailbeacon: --preview needs an account name and a message number\n"
                    << Usage;
                return std::nullopt;
            }
            preview = true;
            options.Account = arguments[++index];
            const std::string& number = arguments[++index];
            int value = 0;
            if (!TryParseInt(number, value) || value < 1) {
                err << "mailbeacon: the message number must be a whole number from 1 up, not \""
                    << number << "\"\n"
                    << Usage;
                return std::nullopt;
            }
            options.Number = value;
        } else if (argument == "--json") {
            options.Json = true;
        } else if (argument == "--config") {
            if (++index == arguments.size()) {
                err << "mailbeacon: --config needs a file name\n" << Usage;
                return std::nullopt;
            }
        } else if (argument.rfind("--config=", 0) != 0) {
            err << "mailbeacon: unknown option " << argument << "\n" << Usage;
            return std::nullopt;
        }
    }
    if (!preview) {
        err << Usage;
        return std::nullopt;
    }
    return options;
}

// The account of that name: the stored name as typed, else ignoring letter case as the store
// compares names.
std::shared_ptr<TAccount> FindAccount(const TAccountList& accounts, const std::string& name)
{
    for (const std::shared_ptr<TAccount>& account : accounts)
        if (account->Name == name)
            return account;
    for (const std::shared_ptr<TAccount>& account : accounts)
        if (FoldCase(account->Name) == FoldCase(name))
            return account;
    return nullptr;
}

// What the preview reports; its failures go to the error stream as they happen.
class TPreviewPrinter : public IPreviewEvents
{
public:
    explicit TPreviewPrinter(std::ostream& err)
        : FErr(err)
    {}

    void Status(const std::string& /*text*/) override {}

    void Failure(const std::string& text, TFailureReport /*report*/) override
    {
        ++Errors;
        Log.push_back(text);
        FErr << "mailbeacon: " << OneLine(text) << std::endl;
    }

    void ShowPreview(const TMessagePreview& preview) override { Shown = preview; }

    int Errors = 0;
    std::vector<std::string> Log;
    std::optional<TMessagePreview> Shown;

private:
    std::ostream& FErr;
};

// The labels as the pane shows them, an empty line, then the text.
void WriteText(std::ostream& out, const TMessagePreview& preview)
{
    out << "From: " << OneLine(preview.From) << "\n"
        << "To: " << OneLine(preview.To) << "\n"
        << "Subject: " << OneLine(preview.Subject) << "\n";
    if (!preview.Attachments.empty())
        out << "Attachments: " << OneLine(preview.AttachmentsText) << "\n";
    out << "\n";
    for (const std::string& line : preview.Body)
        out << OneLine(line) << "\n";
    out << std::flush;
}

void WriteJson(std::ostream& out, const std::string& summary, const TOptions& options,
               const TPreviewPrinter& events)
{
    out << "{\"summary\": " << JsonString(summary) << ", \"errors\": " << events.Errors
        << ", \"account\": " << JsonString(options.Account) << ", \"number\": " << options.Number
        << ", \"preview\": ";
    if (const std::optional<TMessagePreview>& preview = events.Shown) {
        out << "{\"from\": " << JsonString(preview->From) << ", \"to\": " << JsonString(preview->To)
            << ", \"subject\": " << JsonString(preview->Subject) << ", \"attachments\": [";
        for (std::size_t index = 0; index < preview->Attachments.size(); ++index)
            out << (index > 0 ? ", " : "") << JsonString(preview->Attachments[index]);
        std::string text;
        for (const std::string& line : preview->Body)
            text += (text.empty() && &line == &preview->Body.front() ? "" : "\n") + line;
        out << "], \"message_id\": " << JsonString(preview->Row.MessageId)
            << ", \"text\": " << JsonString(text) << "}";
    } else {
        out << "null";
    }
    out << ", \"log\": [";
    for (std::size_t index = 0; index < events.Log.size(); ++index)
        out << (index > 0 ? ", " : "") << JsonString(events.Log[index]);
    out << "]}" << std::endl;
}

} // namespace

bool IsPreviewCommand(const std::vector<std::string>& arguments)
{
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        if (arguments[index] == "--config")
            ++index;
        else if (arguments[index] == "--preview")
            return true;
    }
    return false;
}

int RunPreviewCommand(const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err)
{
    const std::optional<TOptions> options = ParseOptions(arguments, err);
    if (!options)
        return ExitUsage;
    const std::optional<TStoredSettings> settings = ReadStoredSettings(arguments, err);
    if (!settings)
        return ExitUsage;
    const std::shared_ptr<TAccount> account = FindAccount(settings->Accounts, options->Account);
    if (!account) {
        err << "mailbeacon: the settings file " << settings->FileName << " has no account named \""
            << options->Account << "\"";
        std::string names;
        for (const std::shared_ptr<TAccount>& stored : settings->Accounts)
            names += (names.empty() ? "" : ", ") + stored->Name;
        err << (names.empty() ? std::string("; it holds none") : "; it has: " + names) << "\n";
        return ExitUsage;
    }

    TPreviewRequest request;
    request.Account = SnapshotOf(account);
    request.Row.Account = account;
    request.Row.AccountName = account->Name;
    request.Row.Number = std::to_string(options->Number);
    request.CheckIdentity = false;
    request.MessagePreview = settings->MessagePreview;
    request.DateSeparator = DateSeparator().toStdString();

    TPreviewPrinter events(err);
    TWirePOP3 client;
    const std::atomic<bool> cancel{false};
    RetrieveMessagePreview(client, request, events, cancel);

    const std::string summary =
        PreviewSummary(LongTimeText(QTime::currentTime()).toStdString(), events.Errors);
    if (options->Json)
        WriteJson(out, summary, *options, events);
    else if (events.Shown)
        WriteText(out, *events.Shown);
    return events.Shown && events.Errors == 0 ? ExitShown : ExitFailed;
}
