#include "mail/CheckOutcome.h"

#include <algorithm>

TMailNotice MakeMailNotice(const std::vector<TMessageRow>& rows, std::int32_t fresh)
{
    const std::size_t count = static_cast<std::size_t>(std::max<std::int32_t>(fresh, 0));
    std::vector<std::size_t> newRows;
    for (std::size_t index = rows.size() - std::min(count, rows.size()); index < rows.size();
         ++index)
        newRows.push_back(index);
    return MakeMailNotice(rows, newRows);
}

TMailNotice MakeMailNotice(const std::vector<TMessageRow>& rows,
                           const std::vector<std::size_t>& newRows)
{
    TMailNotice notice;
    for (const std::size_t index : newRows) {
        if (index < rows.size())
            notice.Messages.push_back(rows[index]);
    }
    if (notice.Messages.empty()) {
        notice.New = false;
        notice.Messages = rows;
    }
    notice.Count = static_cast<std::int32_t>(notice.Messages.size());
    return notice;
}
