#include "config/Data.h"

#include "config/KeyStore.h"
#include "config/PassCrypt.h"

#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <utility>

namespace {

std::string AccountPath(const std::string& name)
{
    return std::string(StoreKeys::Accounts) + "\\" + name;
}

// The options in their stored order, handed to a visitor that loads or saves them.
// TConfig is TConfiguration when loading and const TConfiguration when saving.
template <class TConfig, class TVisitor> void VisitSettings(TConfig& c, TVisitor& v)
{
    v.TimerEnabled("IntervalCheck", *c.Notification.CheckTimer);
    v.TimerInterval("Interval", *c.Notification.CheckTimer);
    v.Bool("PlaySound", c.Notification.PlaySound, false);
    v.String("Sound", c.Notification.Sound);
    v.Bool("StartClient", c.Notification.StartClient, false);
    v.String("MailClient", c.Notification.MailClient);
    v.Bool("Startup", c.ApplicationSettings.Startup, false);
    v.Integer("Connection", c.Connection.ConnectionType, TConnection::Direct);
    v.Bool("UseProxy", c.Connection.UseProxy, false);
    v.String("Proxy", c.Connection.Proxy);
    v.Integer("ProxyPort", c.Connection.ProxyPort, 80);
    v.Integer("DoubleClick", c.ApplicationSettings.DoubleClick,
              TApplicationSettings::ShowMailbeacon);
    v.Integer("MessagePreview", c.ApplicationSettings.MessagePreview, 50);
    v.Bool("Log", c.ApplicationSettings.Log, false);
    v.Bool("NotifyOnlyWhenNew", c.Notification.NotifyOnlyWhenNew, false);
    v.Bool("DesktopNotification", c.Notification.DesktopNotification, true);
}

// Takes what is stored; an absent value gets its default, which is written back.
class TSettingsLoader
{
public:
    explicit TSettingsLoader(TRegKey& key)
        : FKey(key)
    {}

    void Bool(const char* name, bool& field, bool fallback)
    {
        if (FKey.Exists(name)) {
            field = FKey.ReadBool(name);
        } else {
            field = fallback;
            FKey.WriteBool(name, fallback);
        }
    }
    void Integer(const char* name, std::int32_t& field, std::int32_t fallback)
    {
        if (FKey.Exists(name)) {
            field = FKey.ReadInteger(name);
        } else {
            field = fallback;
            FKey.WriteInteger(name, fallback);
        }
    }
    void String(const char* name, std::string& field)
    {
        if (FKey.Exists(name)) {
            field = FKey.ReadString(name);
        } else {
            field.clear();
            FKey.WriteString(name, {});
        }
    }
    void TimerEnabled(const char* name, ICheckTimer& timer)
    {
        bool enabled = false;
        Bool(name, enabled, false);
        timer.SetEnabled(enabled);
    }
    // An interval under one minute (negative numbers included) is replaced by the default.
    void TimerInterval(const char* name, ICheckTimer& timer)
    {
        if (FKey.Exists(name)) {
            const std::int32_t stored = FKey.ReadInteger(name);
            if (stored >= static_cast<std::int32_t>(MinimumInterval)) {
                timer.SetInterval(static_cast<std::uint32_t>(stored));
                return;
            }
        }
        timer.SetInterval(DefaultInterval);
        FKey.WriteInteger(name, static_cast<std::int32_t>(DefaultInterval));
    }

private:
    TRegKey& FKey;
};

// Each option as one text, for comparing what is in memory with what the store holds.
class TSettingsTexts
{
public:
    void Bool(const char* name, bool field, bool) { Texts[name] = field ? "1" : "0"; }
    void Integer(const char* name, std::int32_t field, std::int32_t)
    {
        Texts[name] = std::to_string(field);
    }
    void String(const char* name, const std::string& field) { Texts[name] = field; }
    void TimerEnabled(const char* name, const ICheckTimer& timer)
    {
        Bool(name, timer.Enabled(), false);
    }
    void TimerInterval(const char* name, const ICheckTimer& timer)
    {
        Texts[name] = std::to_string(timer.Interval());
    }

    std::map<std::string, std::string> Texts;
};

// Writes the options that differ from those the store is known to hold.
class TSettingsSaver
{
public:
    TSettingsSaver(TRegKey& key, const std::map<std::string, std::string>& stored,
                   const std::map<std::string, std::string>& current)
        : FKey(key)
        , FStored(stored)
        , FCurrent(current)
    {}

    void Bool(const char* name, bool field, bool)
    {
        if (Changed(name))
            FKey.WriteBool(name, field);
    }
    void Integer(const char* name, std::int32_t field, std::int32_t)
    {
        if (Changed(name))
            FKey.WriteInteger(name, field);
    }
    void String(const char* name, const std::string& field)
    {
        if (Changed(name))
            FKey.WriteString(name, field);
    }
    void TimerEnabled(const char* name, const ICheckTimer& timer)
    {
        if (Changed(name))
            FKey.WriteBool(name, timer.Enabled());
    }
    void TimerInterval(const char* name, const ICheckTimer& timer)
    {
        if (Changed(name))
            FKey.WriteInteger(name, static_cast<std::int32_t>(timer.Interval()));
    }

private:
    bool Changed(const char* name) const
    {
        if (FStored.empty())
            return true;
        const auto stored = FStored.find(name);
        return stored == FStored.end() || stored->second != FCurrent.at(name);
    }

    TRegKey& FKey;
    const std::map<std::string, std::string>& FStored;
    const std::map<std::string, std::string>& FCurrent;
};

std::map<std::string, std::string> SettingsTexts(const TConfiguration& configuration)
{
    TSettingsTexts texts;
    VisitSettings(configuration, texts);
    return std::move(texts.Texts);
}

std::string FormatNumbers(std::initializer_list<std::int32_t> numbers)
{
    std::string text;
    for (const std::int32_t number : numbers)
        text += (text.empty() ? "" : ",") + std::to_string(number);
    return text;
}

// Reads "a,b,c,d"; false unless it holds exactly four numbers.
bool ParseFour(const std::string& text, std::int32_t (&numbers)[4])
{
    int consumed = 0;
    return std::sscanf(text.c_str(), "%d,%d,%d,%d%n", &numbers[0], &numbers[1], &numbers[2],
                       &numbers[3], &consumed) == 4 &&
           static_cast<std::size_t>(consumed) == text.size();
}

bool ParseNumber(const std::string& text, std::int32_t& number)
{
    int consumed = 0;
    return std::sscanf(text.c_str(), "%d%n", &number, &consumed) == 1 &&
           static_cast<std::size_t>(consumed) == text.size();
}

} // namespace

TNotification::TNotification(std::unique_ptr<ICheckTimer> checkTimer)
    : CheckTimer(std::move(checkTimer))
{}

TConfiguration::TConfiguration(std::unique_ptr<ICheckTimer> checkTimer)
    : Notification(std::move(checkTimer))
{}

void LoadAccounts(TKeyStore& store, TCryptLib& cipher, TAccountList& accounts)
{
    TRegKey accountsKey(store, StoreKeys::Accounts);
    if (!accountsKey.OpenExisting())
        return;
    for (const std::string& name : accountsKey.GetKeyNames()) {
        TRegKey key(store, AccountPath(name));
        if (!key.OpenExisting())
            continue;
        auto account = std::make_shared<TAccount>();
        account->Name = name;
        if (key.Exists("Host"))
            account->Host = key.ReadString("Host");
        if (key.Exists("Port"))
            account->Port = key.ReadInteger("Port");
        if (key.Exists("UserId"))
            account->UserId = key.ReadString("UserId");
        if (key.Exists("Password"))
            account->Password = cipher.DecryptString(key.ReadString("Password"));
        if (key.Exists("Include"))
            account->Include = key.ReadBool("Include");
        if (key.Exists("Security"))
            account->Security = key.ReadInteger("Security");
        if (key.Exists("TrustedCertificate"))
            account->TrustedCertificate = key.ReadString("TrustedCertificate");
        accounts.push_back(std::move(account));
    }
}

void LoadSettings(TKeyStore& store, TConfiguration& configuration)
{
    TStoreUpdate update(store);
    TRegKey key(store, StoreKeys::Settings);
    if (!key.Open()) {
        RememberStoredOptions(configuration);
        return;
    }
    TSettingsLoader loader(key);
    try {
        VisitSettings(configuration, loader);
    } catch (const std::exception&) {
        // The options after the one that stopped the loader keep their defaults in memory;
        // the store keeps its own values for them.
        RememberStoredOptions(configuration);
        throw;
    }
    RememberStoredOptions(configuration);
    update.Finish();
}

void RememberStoredOptions(TConfiguration& configuration)
{
    configuration.StoredOptions = SettingsTexts(configuration);
}

void SaveSettings(TKeyStore& store, TConfiguration& configuration)
{
    TStoreUpdate update(store);
    TRegKey key(store, StoreKeys::Settings);
    if (!key.Open())
        return;
    const std::map<std::string, std::string> current = SettingsTexts(configuration);
    TSettingsSaver saver(key, configuration.StoredOptions, current);
    VisitSettings(configuration, saver);
    update.Finish();
    configuration.StoredOptions = current;
}

void LoadWindowSettings(TKeyStore& store, std::int32_t& notificationHeight,
                        std::vector<TColumnWidth>& columns)
{
    TRegKey key(store, StoreKeys::Window);
    if (!key.OpenExisting())
        return;
    if (key.Exists("NotificationHeight"))
        notificationHeight = key.ReadInteger("NotificationHeight");
    for (TColumnWidth& column : columns) {
        if (key.Exists(column.Caption))
            column.Width = key.ReadInteger(column.Caption);
    }
}

void SaveWindowSettings(TKeyStore& store, std::int32_t notificationHeight,
                        const std::vector<TColumnWidth>& columns)
{
    TStoreUpdate update(store);
    TRegKey key(store, StoreKeys::Window);
    if (!key.Open())
        return;
    key.WriteInteger("NotificationHeight", notificationHeight);
    for (const TColumnWidth& column : columns)
        key.WriteInteger(column.Caption, column.Width);
    update.Finish();
}

void SaveAccount(TKeyStore& store, TCryptLib& cipher, const TAccount& account,
                 const std::string& previousName)
{
    // One update: the old sub-key is never gone from the file without the new one written.
    TStoreUpdate update(store);
    if (!previousName.empty())
        RemoveAccount(store, previousName);
    TRegKey key(store, AccountPath(account.Name));
    key.Open();
    key.WriteString("Host", account.Host);
    key.WriteInteger("Port", account.Port);
    key.WriteString("UserId", account.UserId);
    key.WriteString("Password", cipher.EncryptString(account.Password));
    key.WriteBool("Include", account.Include);
    key.WriteInteger("Security", account.Security);
    if (!account.TrustedCertificate.empty())
        key.WriteString("TrustedCertificate", account.TrustedCertificate);
    update.Finish();
}

void RemoveAccount(TKeyStore& store, const std::string& name)
{
    store.DeleteKey(AccountPath(name));
}

std::optional<TWindowPlacement> LoadWindowPlacement(TKeyStore& store)
{
    TRegKey key(store, StoreKeys::Window);
    if (!key.OpenExisting())
        return std::nullopt;
    for (const char* name :
         {"Flags", "ShowCmd", "MinMaxPos", "NormPos", "PixelsPerInch", "Visible"}) {
        if (!key.Exists(name))
            return std::nullopt;
    }
    TWindowPlacement placement;
    std::int32_t minMax[4];
    std::int32_t normal[4];
    std::int32_t visible = 0;
    if (!ParseNumber(key.ReadString("Flags"), placement.Flags) ||
        !ParseNumber(key.ReadString("ShowCmd"), placement.ShowCmd) ||
        !ParseFour(key.ReadString("MinMaxPos"), minMax) ||
        !ParseFour(key.ReadString("NormPos"), normal) ||
        !ParseNumber(key.ReadString("PixelsPerInch"), placement.PixelsPerInch) ||
        !ParseNumber(key.ReadString("Visible"), visible))
        return std::nullopt;
    placement.MinPosition = {minMax[0], minMax[1]};
    placement.MaxPosition = {minMax[2], minMax[3]};
    placement.NormalPosition = {normal[0], normal[1], normal[2], normal[3]};
    placement.Visible = visible != 0;
    return placement;
}

void SaveWindowPlacement(TKeyStore& store, const TWindowPlacement& placement)
{
    TStoreUpdate update(store);
    TRegKey key(store, StoreKeys::Window);
    if (!key.Open())
        return;
    const TPoint& minPos = placement.MinPosition;
    const TPoint& maxPos = placement.MaxPosition;
    const TRect& normal = placement.NormalPosition;
    key.WriteString("Flags", std::to_string(placement.Flags));
    key.WriteString("ShowCmd", std::to_string(placement.ShowCmd));
    key.WriteString("MinMaxPos", FormatNumbers({minPos.X, minPos.Y, maxPos.X, maxPos.Y}));
    key.WriteString("NormPos",
                    FormatNumbers({normal.Left, normal.Top, normal.Right, normal.Bottom}));
    key.WriteString("PixelsPerInch", std::to_string(placement.PixelsPerInch));
    key.WriteString("Visible", placement.Visible ? "1" : "0");
    update.Finish();
}
