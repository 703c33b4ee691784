#pragma once

// Dates as the message list and the summary helpers exchange them: days since 30 December 1899,
// the time of day as the fraction; 0 means that no date is known.
using TDateTime = double;

// Gives false, and leaves result alone, for a date that does not exist (day 0, 31 April, a year
// outside 1 to 9999).
bool TryEncodeDate(int year, int month, int day, TDateTime& result);

// The calendar date of a value, ignoring its time of day. Gives false for a value outside the
// years 1 to 9999 (or not a number).
bool DecodeDate(TDateTime value, int& year, int& month, int& day);
