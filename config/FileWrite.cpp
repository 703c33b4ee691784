#include "config/FileWrite.h"

#include <cerrno>
#include <cstddef>
#include <unistd.h>

bool WriteWholly(int handle, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(handle, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}
