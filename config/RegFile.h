#pragma once

#include "config/RegTree.h"

#include <string>

// The text form of the store: "REGEDIT4", a blank line, then one "[HKEY_CURRENT_USER\...]"
// line per key followed by its values ("Name"="text" or "Name"=dword:0000006e), keys
// separated by blank lines. Lines end with CR LF when written; LF alone is accepted. ";"
// comment lines are kept with the key or value line that follows them (or at the end).

// Parses a whole file into a tree rooted at HKEY_CURRENT_USER. Throws ERegistryError
// "<fileName>, line N: <problem>" for anything it cannot read, a key deeper than MaxKeyDepth
// included.
TRegTreeKey ParseRegFile(const std::string& text, const std::string& fileName);

// Writes every key that holds values or has no sub-keys; the keys above them are implied.
std::string FormatRegFile(const TRegTreeKey& root);
