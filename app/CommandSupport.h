#pragma once

#include "config/Data.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// What the command-line modes share: the accounts of the settings file the arguments name, and
// texts made safe for a terminal, a tab-separated line and a JSON document.

// What the command-line modes read of the settings file.
struct TStoredSettings
{
    std::string FileName;
    TAccountList Accounts;
    // The number of body lines a preview asks for.
    std::int32_t MessagePreview = TApplicationSettings().MessagePreview;
};

// The settings of the file the arguments name; nullopt, with the reason written to err, when
// the file does not exist (creating one would only hide a mistyped name) or cannot be read.
std::optional<TStoredSettings> ReadStoredSettings(const std::vector<std::string>& arguments,
                                                  std::ostream& err);

// Valid UTF-8 in any case: raw header bytes that are not become U+FFFD.
std::string Utf8(const std::string& text);

// One line on the terminal for a text that may hold line breaks (a socket error's text does)
// or a server's escape sequences, which could retitle or clear the terminal.
std::string OneLine(const std::string& text);

// The text as a JSON string, quotes included.
std::string JsonString(const std::string& text);
// The texts as a JSON array of strings.
std::string JsonArray(const std::vector<std::string>& texts);
