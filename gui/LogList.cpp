#include "gui/LogList.h"

#include <utility>

void TLogList::Add(TLogItem item)
{
    FItems.push_back(std::move(item));
    if (FItems.size() > MaxEntries)
        FItems.pop_front();
}
