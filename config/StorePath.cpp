#include "config/StorePath.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string HomeFolder()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()))
            home = entry->pw_dir;
    }
    return home;
}

} // namespace

std::string StoreFileName(const std::vector<std::string>& arguments)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--config" && i + 1 < arguments.size())
            return arguments[i + 1];
        if (argument.rfind("--config=", 0) == 0)
            return argument.substr(9);
    }
    if (std::string fromEnvironment = Environment("MAILBEACON_CONFIG"); !fromEnvironment.empty())
        return fromEnvironment;
    std::string configHome = Environment("XDG_CONFIG_HOME");
    // Relative paths are not valid here for the XDG base directories; they are ignored.
    if (configHome.empty() || configHome.front() != '/')
        configHome = HomeFolder() + "/.config";
    return configHome + "/Hollinway/Mailbeacon 2.0.reg";
}
