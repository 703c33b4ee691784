#pragma once

#include <string>

// Writes all of the text to the open file, going on after short writes and interruptions by a
// signal. False, with errno telling why, when the file takes no more.
bool WriteWholly(int handle, const std::string& text);
