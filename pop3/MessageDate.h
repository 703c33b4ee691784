#pragma once

#include "pop3/DateTime.h"

#include <optional>
#include <string>
#include <string_view>

// A "Date" header value read by RFC 5322 §3.3 and its obsolete forms (§4.3): the date, the time
// of day as written, and the zone.
struct TMessageDate
{
    enum class TZone
    {
        // OffsetMinutes holds the offset from UTC.
        Offset,
        // "-0000", or a military letter (§4.3): the time is UTC, the sender's offset unknown.
        UtcOffsetUnknown,
        // No zone, or a name the standard does not define ("CET"): the time is local to the
        // sender, at an offset that cannot be told.
        Unknown
    };

    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    TZone Zone = TZone::Unknown;
    // Minutes east of UTC.
    int OffsetMinutes = 0;

    // The date as the message list counts dates, at midnight.
    TDateTime Value() const;
};

// Nothing for a value that is not a date of the calendar with a time of day: no date at all,
// a month that is not a month's name, 31 April, 25:00.
std::optional<TMessageDate> ReadMessageDate(std::string_view value);

// RFC 3339 with the header's own offset ("2025-02-13T10:00:00+01:00"; "-00:00" for a UTC time
// whose local offset is unknown); empty when the zone cannot be told.
std::string Rfc3339Text(const TMessageDate& date);
