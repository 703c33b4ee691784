#pragma once

#include <QString>

// Where the program's files are when it runs installed: the program in <prefix>/bin, its
// launcher, icons and metadata under <prefix>/share, named by the program's id.
namespace Installation {

// The reverse-DNS id that names the launcher, the icon and the metadata.
QString ApplicationId();

// The prefix the program runs installed under, as a canonical path; empty when it runs from
// anywhere else (a build tree), so that nothing of an installation is assumed.
QString Prefix();
QString PrefixOf(const QString& programFolder);

// The program's icon as a desktop service finds it: the icon theme's name when the prefix is
// one the desktop searches, else the installed drawing's path; empty when not installed.
QString IconReference();

} // namespace Installation
