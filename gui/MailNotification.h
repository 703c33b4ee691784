#pragma once

#include "desktop/Notifier.h"

struct TMailNotice;

// A pop-up lists this many messages at most; one more line counts the others.
inline constexpr int MaxNoticeLines = 5;

// The pop-up of a check's notice: "N new messages" or "N messages waiting", then one
// "Sender — Subject" line per message; offerMailClient adds "Start Mail Client".
TDesktopNotice DesktopNoticeOf(const TMailNotice& notice, bool offerMailClient);
