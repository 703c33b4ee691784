#pragma once

#include <string>
#include <vector>

// The store file: "--config FILE" on the command line, else $MAILBEACON_CONFIG, else
// "${XDG_CONFIG_HOME:-~/.config}/Hollinway/Mailbeacon 2.0.reg".
std::string StoreFileName(const std::vector<std::string>& arguments);
