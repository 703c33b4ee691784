#pragma once

#include <QIcon>

// The program's own images, drawn as SVG and rendered at 16, 22, 32 and 48 pixels.
namespace Icons {

// The toolbar image list: 0 check now, 1 delete, 2 settings, 3 stop, 4 action log, 5 message
// preview, 6 start mail client, 7 online help, 8 about, 9 home page, 10 check for new version,
// 11 exit, 12 open the window. An empty icon for any other index.
QIcon ToolBarImage(int index);
inline constexpr int ToolBarImageCount = 13;

// The envelope under a beacon: the window's and the tray's icon.
QIcon ProgramIcon();

// The two images the tray icon alternates between while mail is waiting (frame 0 or 1).
QIcon MailWaitingFrame(int frame);

// The image of a section of the settings dialog: "accounts", "account", "connection",
// "notification" or "application".
QIcon OptionImage(const char* name);

// The small cross of the preview pane's close button.
QIcon CloseImage();

// The image with a small red error mark in its lower right corner, at every size it has.
QIcon WithErrorBadge(const QIcon& image);

} // namespace Icons
