// Until the main window arrives, the program loads the store as it will at start-up and
// prints what it found, so the store can be inspected and hand-edited files checked.
#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "config/StorePath.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    TFileKeyStore store(StoreFileName(arguments));
    TCryptLib cipher = MakeProgramCipher();
    TConfiguration configuration;
    std::int32_t notificationHeight = 163;
    std::vector<TColumnWidth> columns = {
        {"Account", 60}, {"From", 150}, {"Subject", 150}, {"Date", 100}, {"Size", 55}};
    std::cout << "Store: " << store.FileName() << "\n";
    try {
        LoadAccounts(store, cipher, configuration.Accounts);
        LoadSettings(store, configuration);
        LoadWindowSettings(store, notificationHeight, columns);
    } catch (const std::exception& error) {
        std::cerr << "mailbeacon: " << error.what() << "\n";
        return 1;
    }
    std::cout << "Accounts: " << configuration.Accounts.size() << "\n";
    for (const auto& account : configuration.Accounts) {
        std::cout << "  " << account->Name << ": " << account->UserId << "@" << account->Host << ":"
                  << account->Port << (account->Include ? "" : " (not included)")
                  << (account->Password.empty() ? ", no password" : ", password set") << "\n";
    }
    const TNotification& notification = configuration.Notification;
    const TApplicationSettings& settings = configuration.ApplicationSettings;
    std::cout << "Interval checking: " << (notification.CheckTimer->Enabled() ? "on" : "off")
              << ", every " << notification.CheckTimer->Interval() / 1000 << " s\n"
              << "Connection: "
              << (configuration.Connection.ConnectionType == TConnection::DialUp ? "dial-up"
                                                                                 : "direct")
              << "\nMessage preview lines: " << settings.MessagePreview
              << "\nLog: " << (settings.Log ? "on" : "off") << "\n"
              << "Notification height: " << notificationHeight << "\n";
    return 0;
}
