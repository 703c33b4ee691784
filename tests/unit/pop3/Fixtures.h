#pragma once

#include <string>
#include <vector>

// The lines of a message file in tests/data/ (CR LF or LF), as a server would send them.
std::vector<std::string> MessageLines(const std::string& fixture);

// The header lines of a message file: those before its first empty line.
std::vector<std::string> HeaderLines(const std::string& fixture);
