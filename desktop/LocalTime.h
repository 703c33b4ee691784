#pragma once

#include <QString>

class QDateTime;
class QTime;

// The user's long time format (hours, minutes and seconds), without a time-zone name.
QString LongTimeText(const QTime& time);

// The user's short date format, a blank, and the long time format: how the action log stamps
// its entries.
QString DateTimeText(const QDateTime& moment);

// The character between day, month and year in the user's short date format; "/" when the
// format shows none.
QString DateSeparator();
