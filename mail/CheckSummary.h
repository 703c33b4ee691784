#pragma once

#include <string>

// The line that ends an operation on the status bar, and the last line of the command-line
// check: "<operation> completed at <time> with <n> error(s)". time is the local time as the
// user's long time format writes it; the window and the command line format it alike.
std::string CompletionText(const std::string& operation, const std::string& time, int errors);

// "Mail Check completed at <time> with <n> error(s)".
std::string CheckSummary(const std::string& time, int errors);

// "Message Preview completed at <time> with <n> error(s)".
std::string PreviewSummary(const std::string& time, int errors);
