#pragma once

#include <functional>
#include <string>

// Runs work on a thread of its own inside a new, empty network namespace (only a loopback
// interface, and that one down), so that no name look-up or connection can leave the machine.
// Returns false, with the reason in whyNot, when no namespace can be made here (not root, or
// namespaces disabled); exceptions of work are thrown again on the caller's thread.
bool RunInOwnNetworkNamespace(const std::function<void()>& work, std::string& whyNot);
