#pragma once

#include <string>

class TKeyStore;

// The order the message list is sorted in, kept in the Window key with the column widths.
struct TListSort
{
    // The caption of the column sorted by; empty for the order the check listed the rows in.
    std::string Column;
    bool Descending = false;
    bool operator==(const TListSort&) const = default;
};

// The stored sort; list order when none is stored or a stored value is of another type (the
// sort is not worth an error at start). Throws ERegistryError only when the store cannot be
// read at all.
TListSort LoadListSort(TKeyStore& store);
void SaveListSort(TKeyStore& store, const TListSort& sort);
