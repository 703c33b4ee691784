// Compiled into every test program: the header caches written by the checks the tests run (in
// process or by the program they start) go to a folder of the test program's own, so that a
// test run by hand never writes into the user's cache. The folder goes when the test program
// ends.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

class TPrivateCache
{
public:
    TPrivateCache()
        : FOwner(::getpid())
    {
        std::error_code error;
        std::string pattern =
            (std::filesystem::temp_directory_path(error) / "mb-test-cache-XXXXXX").string();
        if (!error && ::mkdtemp(pattern.data()) != nullptr) {
            FFolder = pattern;
            ::setenv("XDG_CACHE_HOME", FFolder.c_str(), 1);
        }
    }

    ~TPrivateCache()
    {
        // A forked child that ends without exec runs this too: only the test program removes.
        std::error_code error;
        if (!FFolder.empty() && ::getpid() == FOwner)
            std::filesystem::remove_all(FFolder, error);
    }

    TPrivateCache(const TPrivateCache&) = delete;
    TPrivateCache& operator=(const TPrivateCache&) = delete;

private:
    pid_t FOwner;
    std::string FFolder;
};

const TPrivateCache PrivateCache;

} // namespace
