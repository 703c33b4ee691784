#pragma once

#include "config/Connection.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TCryptLib;
class TKeyStore;

// Key paths of the store, below the user's root.
namespace StoreKeys {
inline constexpr const char* Root = "\\Software\\Hollinway\\Mailbeacon 2.0";
inline constexpr const char* Accounts = "\\Software\\Hollinway\\Mailbeacon 2.0\\Accounts";
inline constexpr const char* Settings = "\\Software\\Hollinway\\Mailbeacon 2.0\\Settings";
inline constexpr const char* Window = "\\Software\\Hollinway\\Mailbeacon 2.0\\Window";
} // namespace StoreKeys

inline constexpr std::int32_t DefaultPort = 110;
// The port of POP3 over TLS from the first byte (RFC 8314).
inline constexpr std::int32_t DefaultSecurePort = 995;
inline constexpr std::uint32_t DefaultInterval = 300000;
inline constexpr std::uint32_t MinimumInterval = 60000;

// One POP3 account. The password is plain in memory and enciphered in the store.
struct TAccount
{
    // How the connection is secured, as stored in "Security".
    enum TSecurity : std::int32_t
    {
        SecurityNone = 0,
        // STLS after the greeting.
        SecurityStartTls = 1,
        // TLS from the first byte.
        SecurityTls = 2
    };

    std::string Name;
    std::string Host;
    std::int32_t Port = DefaultPort;
    std::string UserId;
    std::string Password;
    bool Include = true;
    // Absent from a store written before accounts had it: such an account stays as it was.
    std::int32_t Security = SecurityNone;
    // The SHA-256 fingerprint of a certificate accepted for this account in place of the
    // authorities' word (a server with a self-signed certificate); empty for none. Given a
    // default so that records written as {name, host, port, user, password} need not name it.
    std::string TrustedCertificate = {};
};

// Shared, so that a row of the message list or a running operation never holds an account
// that the settings dialog has just removed.
using TAccountList = std::vector<std::shared_ptr<TAccount>>;

// The periodic-check timer as the configuration sees it: its enabled state is the
// interval-checking option and its interval the check interval, so whatever changes the
// timer changes the options. The window backs it with a real timer.
class ICheckTimer
{
public:
    virtual ~ICheckTimer() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    // Milliseconds between two timed checks.
    virtual std::uint32_t Interval() const = 0;
    virtual void SetInterval(std::uint32_t milliseconds) = 0;
};

// A timer that only holds its two options, for the command-line check and for tests.
class TPlainCheckTimer : public ICheckTimer
{
public:
    bool Enabled() const override { return FEnabled; }
    void SetEnabled(bool enabled) override { FEnabled = enabled; }
    std::uint32_t Interval() const override { return FInterval; }
    void SetInterval(std::uint32_t milliseconds) override { FInterval = milliseconds; }

private:
    bool FEnabled = false;
    std::uint32_t FInterval = DefaultInterval;
};

struct TNotification
{
    explicit TNotification(std::unique_ptr<ICheckTimer> checkTimer);

    bool PlaySound = false;
    std::string Sound;
    bool StartClient = false;
    std::string MailClient;
    std::unique_ptr<ICheckTimer> CheckTimer;
    bool NotifyOnlyWhenNew = false;
    // A check that notifies shows a pop-up on the desktop as well.
    bool DesktopNotification = true;
};

struct TApplicationSettings
{
    enum TDoubleClick : std::int32_t
    {
        CheckMail = 0,
        ShowMailbeacon = 1,
        StartMailClient = 2
    };

    bool Startup = false;
    std::int32_t DoubleClick = ShowMailbeacon;
    std::int32_t MessagePreview = 50;
    bool Log = false;
};

// Everything the program keeps between runs, as held in memory by the main window.
struct TConfiguration
{
    explicit TConfiguration(
        std::unique_ptr<ICheckTimer> checkTimer = std::make_unique<TPlainCheckTimer>());

    TAccountList Accounts;
    TConnection Connection;
    TNotification Notification;
    TApplicationSettings ApplicationSettings;
    // Position of the settings tree's node shown last; lives as long as the program runs.
    std::int32_t LastSettingsPage = 0;
    // The options as the store holds them, by value name, as far as the program knows: what
    // was loaded, and the defaults in memory of what could not be. SaveSettings writes only
    // the options that differ, so an option that failed to load is never written over unless
    // it is changed. Empty: nothing is known, and every option is written.
    std::map<std::string, std::string> StoredOptions;
};

// Width of one message-list column, stored under the column's caption.
struct TColumnWidth
{
    std::string Caption;
    std::int32_t Width = 0;
};

struct TPoint
{
    std::int32_t X = 0;
    std::int32_t Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TRect
{
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    bool operator==(const TRect&) const = default;
};

// The main window's position and state, kept as text values in the Window key.
struct TWindowPlacement
{
    std::int32_t Flags = 0;
    std::int32_t ShowCmd = 1;
    TPoint MinPosition;
    TPoint MaxPosition;
    TRect NormalPosition;
    std::int32_t PixelsPerInch = 96;
    bool Visible = false;
    bool operator==(const TWindowPlacement&) const = default;
};

// Loaders and savers. The savers open their key, creating it when missing; the loaders read
// a key only when it exists and never add one, so that reading leaves the store as it is
// (LoadSettings alone writes, the defaults of absent options). A value stored with another
// type stops the loader with ERegistryError naming it; a stored password that is not hex text
// stops LoadAccounts with the cipher's ECryptError, without the account in hand.

void LoadAccounts(TKeyStore& store, TCryptLib& cipher, TAccountList& accounts);
// Reads the options, writing the default of every absent one back to the store. The
// options then in memory become the StoredOptions, also when a value stops the loader.
void LoadSettings(TKeyStore& store, TConfiguration& configuration);
// The options now in memory become the StoredOptions: for a start whose loading stopped before
// the options, so that the defaults in use are not written over the stored values.
void RememberStoredOptions(TConfiguration& configuration);
// notificationHeight is kept when no height is stored; so is the width of a column without a
// stored value.
void LoadWindowSettings(TKeyStore& store, std::int32_t& notificationHeight,
                        std::vector<TColumnWidth>& columns);
void SaveWindowSettings(TKeyStore& store, std::int32_t notificationHeight,
                        const std::vector<TColumnWidth>& columns);
// Writes one account; previousName (empty for a new account) names the sub-key that is
// removed first, so a renamed account leaves no trace of its old name.
void SaveAccount(TKeyStore& store, TCryptLib& cipher, const TAccount& account,
                 const std::string& previousName);
// Writes the options that differ from the StoredOptions (every one when those are empty); they
// are the StoredOptions afterwards.
void SaveSettings(TKeyStore& store, TConfiguration& configuration);
void RemoveAccount(TKeyStore& store, const std::string& name);
// Nothing when no complete placement is stored.
std::optional<TWindowPlacement> LoadWindowPlacement(TKeyStore& store);
void SaveWindowPlacement(TKeyStore& store, const TWindowPlacement& placement);
