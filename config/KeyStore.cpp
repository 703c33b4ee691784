#include "config/KeyStore.h"

#include <utility>

TRegKey::TRegKey(TKeyStore& store, std::string path)
    : FStore(store)
    , FPath(std::move(path))
{}

TStoreUpdate::TStoreUpdate(TKeyStore& store)
    : FStore(store)
{
    FStore.BeginUpdate();
}

TStoreUpdate::~TStoreUpdate()
{
    if (FFinished)
        return;
    try {
        FStore.EndUpdate();
    } catch (const ERegistryError&) {
        // Another error is already on its way to the caller; it is the one to report.
    }
}

void TStoreUpdate::Finish()
{
    FFinished = true;
    FStore.EndUpdate();
}
