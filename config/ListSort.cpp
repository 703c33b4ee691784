#include "config/ListSort.h"

#include "config/Data.h"
#include "config/KeyStore.h"

namespace {

constexpr const char* ColumnValue = "SortColumn";
constexpr const char* DescendingValue = "SortDescending";

} // namespace

TListSort LoadListSort(TKeyStore& store)
{
    TRegKey key(store, StoreKeys::Window);
    if (!key.Open() || !key.Exists(ColumnValue))
        return {};
    TListSort sort;
    try {
        sort.Column = key.ReadString(ColumnValue);
        sort.Descending = key.Exists(DescendingValue) && key.ReadBool(DescendingValue);
    } catch (const ERegistryError&) {
        return {};
    }
    return sort;
}

void SaveListSort(TKeyStore& store, const TListSort& sort)
{
    TStoreUpdate update(store);
    TRegKey key(store, StoreKeys::Window);
    if (!key.Open())
        return;
    key.WriteString(ColumnValue, sort.Column);
    key.WriteBool(DescendingValue, sort.Descending);
    update.Finish();
}
