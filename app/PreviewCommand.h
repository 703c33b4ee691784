#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// "mailbeacon --preview ACCOUNT NUMBER [--json] [--config FILE]": what the preview pane shows
// of one message (From, To, Subject, Attachments and the text), fetched as the pane fetches
// it, without a window. With no listed row to compare, the message is whatever the number
// names on the server now.

// Whether the arguments (without the program's name) ask for a preview.
bool IsPreviewCommand(const std::vector<std::string>& arguments);

// Fetches and prints the preview, or one JSON document, to out; usage errors, store errors
// and the reason of a failed preview go to err. Returns the exit status: 0 when the preview
// was shown, 1 when the account or the message could not be reached, 2 for a bad command
// line, a settings file that cannot be read or an account it does not hold.
int RunPreviewCommand(const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err);
