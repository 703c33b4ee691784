#include "tests/unit/pop3/Fixtures.h"

#include "tests/support/TempDir.h"

#include <algorithm>
#include <stdexcept>

std::vector<std::string> MessageLines(const std::string& fixture)
{
    const std::string text = ReadFile(std::string(MB_TEST_DATA_DIR) + "/" + fixture);
    if (text.empty())
        throw std::runtime_error("missing or empty fixture " + fixture);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> HeaderLines(const std::string& fixture)
{
    std::vector<std::string> lines = MessageLines(fixture);
    lines.erase(std::find(lines.begin(), lines.end(), std::string()), lines.end());
    return lines;
}
