#pragma once

#include <string>

class TDesktopSession;

// Why the desktop session of SessionMain.cpp does not run; empty when it does.
extern std::string SessionFailure;
extern TDesktopSession* Session;
