// The README's commands as a newcomer's machine meets them: which packages each installs, and
// that the packaged servers of the tests never start while they install.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string Root = MB_SOURCE_DIR;

// The command's standard output; its exit status in status.
std::string Shell(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        output += buffer.data();
    status = ::pclose(pipe);
    return output;
}

std::set<std::string> Packages(const std::string& purpose)
{
    int status = -1;
    std::istringstream lines(Shell(Root + "/scripts/deps --list " + purpose, status));
    EXPECT_EQ(status, 0);
    std::set<std::string> packages;
    for (std::string line; std::getline(lines, line);)
        packages.insert(line);
    return packages;
}

// Package -> the command the README's dependency table says installs it.
std::map<std::string, std::string> ReadmeTable()
{
    std::istringstream readme(ReadFile(Root + "/README.md"));
    std::map<std::string, std::string> commands;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("| `", 0) != 0)
            continue;
        const std::size_t second = line.find(" | ", 2);
        const std::size_t third = line.find(" | ", second + 3);
        if (second == std::string::npos || third == std::string::npos)
            continue;
        const std::string command = line.substr(second + 3, third - second - 3);
        const std::string names = line.substr(2, second - 2);
        for (std::size_t open = names.find('`'); open != std::string::npos;) {
            const std::size_t close = names.find('`', open + 1);
            commands[names.substr(open + 1, close - open - 1)] = command;
            open = names.find('`', close + 1);
        }
    }
    return commands;
}

} // namespace

TEST(Dependencies, RunningNeedsNoTestPackageAndNoServer)
{
    const std::set<std::string> run = Packages("run");
    const std::set<std::string> test = Packages("test");
    ASSERT_FALSE(run.empty());
    for (const std::string& package : run)
        EXPECT_TRUE(test.count(package)) << package << " is needed by the tests as well";
    for (const char* package : {"dovecot-pop3d", "mailutils-pop3d", "tinyproxy", "libgtest-dev",
                                "libbenchmark-dev", "clang", "trayer", "xdotool"}) {
        EXPECT_FALSE(run.count(package)) << package;
        EXPECT_TRUE(test.count(package)) << package;
    }
}

TEST(Dependencies, TheReadmeSaysWhichCommandInstallsEachPackage)
{
    const std::set<std::string> run = Packages("run");
    const std::map<std::string, std::string> table = ReadmeTable();
    for (const std::string& package : Packages("test")) {
        const auto row = table.find(package);
        ASSERT_NE(row, table.end()) << package << " is missing from the README's table";
        EXPECT_EQ(row->second, run.count(package) ? "`scripts/run`" : "`scripts/test`") << package;
    }
}

TEST(Dependencies, PackagedServersInstallUnderAPolicyThatDeniesEveryStart)
{
    // Stand-ins for the package tools: every package is missing, and the install records what
    // the service policy answers while it runs, as a server's maintainer script would ask it.
    TTempDir dir;
    const std::string bin = dir.File("bin");
    std::filesystem::create_directory(bin);
    const std::string policy = dir.File("policy-rc.d");
    const std::string log = dir.File("apt.log");
    WriteFile(bin + "/dpkg-query", "#!/bin/sh\nexit 1\n");
    WriteFile(bin + "/sudo", "#!/bin/sh\nexec \"$@\"\n");
    WriteFile(bin + "/apt-get", "#!/bin/sh\n[ \"$1\" = update ] && exit 0\n"
                                "if [ -x '" +
                                    policy + "' ]; then '" + policy +
                                    "' tinyproxy start; "
                                    "echo \"policy $?\" >>'" +
                                    log + "'; else echo 'no policy' >>'" + log + "'; fi\n");
    for (const char* tool : {"dpkg-query", "sudo", "apt-get"})
        std::filesystem::permissions(bin + "/" + tool, std::filesystem::perms::owner_all);
    const std::string environment = "PATH='" + bin + "':\"$PATH\" MB_POLICY_RC_D='" + policy + "' ";

    int status = -1;
    Shell(environment + Root + "/scripts/deps run", status);
    EXPECT_EQ(status, 0);
    Shell(environment + Root + "/scripts/deps test", status);
    EXPECT_EQ(status, 0);
    // A policy of the machine's own is put back as it was.
    WriteFile(policy, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(policy, std::filesystem::perms::owner_all);
    Shell(environment + Root + "/scripts/deps test", status);
    EXPECT_EQ(status, 0);

    EXPECT_EQ(ReadFile(log), "no policy\npolicy 101\npolicy 101\n")
        << "running installs no server; the tests' servers never start";
    EXPECT_EQ(ReadFile(policy), "#!/bin/sh\nexit 0\n");
    EXPECT_FALSE(std::filesystem::exists(policy + ".mailbeacon-saved"));
}
