#include "tools/DemoStore.h"

#include "config/Data.h"
#include "config/KeyStore.h"
#include "config/PassCrypt.h"

void WriteDemoStore(TKeyStore& store, const TDemoAccount& account)
{
    TAccount stored;
    stored.Name = account.Name;
    stored.Host = account.Host;
    stored.Port = account.Port;
    stored.UserId = account.UserId;
    stored.Password = account.Password;
    stored.Include = true;
    stored.Security = account.Security;
    stored.TrustedCertificate = account.TrustedCertificate;

    TConfiguration configuration(std::make_unique<TPlainCheckTimer>());
    configuration.Notification.CheckTimer->SetEnabled(true);
    configuration.Notification.CheckTimer->SetInterval(MinimumInterval);
    configuration.ApplicationSettings.Log = true;

    TCryptLib cipher = MakeProgramCipher();
    TStoreUpdate update(store);
    SaveAccount(store, cipher, stored, {});
    SaveSettings(store, configuration);
    update.Finish();
}
