#pragma once

#include <QString>

#include <cstddef>
#include <deque>

// One entry of the action log.
struct TLogItem
{
    QString Time; // short date, a blank, long time
    QString Action;
};

// The action log in the order things happened. It keeps the newest entries only, so that a
// program left running in the tray for months does not grow without bound.
class TLogList
{
public:
    static constexpr std::size_t MaxEntries = 50000;

    using const_iterator = std::deque<TLogItem>::const_iterator;

    void Add(TLogItem item);
    void Clear() { FItems.clear(); }
    std::size_t Count() const { return FItems.size(); }
    bool Empty() const { return FItems.empty(); }
    const TLogItem& operator[](std::size_t index) const { return FItems[index]; }
    const_iterator begin() const { return FItems.begin(); }
    const_iterator end() const { return FItems.end(); }

private:
    std::deque<TLogItem> FItems;
};
