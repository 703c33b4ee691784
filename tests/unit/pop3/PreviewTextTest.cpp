// The preview's text and attachment names, one case per kind of message, from one table in
// tests/data/preview-messages.txt.
#include "pop3/StrUtils.h"
#include "pop3/Util.h"
#include "tests/unit/pop3/Fixtures.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

using TLines = std::vector<std::string>;

struct TPreviewCase
{
    std::string Name;
    TLines Captured;
    TLines Text;
    TLines Attachments;
};

void PrintTo(const TPreviewCase& previewCase, std::ostream* out)
{
    *out << previewCase.Name;
}

// "\xHH" in a captured line stands for the byte HH.
std::string Unescaped(const std::string& line)
{
    std::string bytes;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line.compare(i, 2, "\\x") == 0 && i + 3 < line.size() &&
            HexDigitValue(line[i + 2]) >= 0 && HexDigitValue(line[i + 3]) >= 0) {
            bytes +=
                static_cast<char>(HexDigitValue(line[i + 2]) * 16 + HexDigitValue(line[i + 3]));
            i += 3;
        } else {
            bytes += line[i];
        }
    }
    return bytes;
}

void DropTrailingEmpty(TLines& lines)
{
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
}

std::vector<TPreviewCase> LoadCases()
{
    std::vector<TPreviewCase> cases;
    TLines* section = nullptr;
    for (const std::string& line : MessageLines("preview-messages.txt")) {
        if (line.rfind("### ", 0) == 0) {
            cases.push_back({line.substr(4), {}, {}, {}});
            section = &cases.back().Captured;
        } else if (cases.empty()) {
            continue;
        } else if (line == "=== text") {
            section = &cases.back().Text;
        } else if (line == "=== attachments") {
            section = &cases.back().Attachments;
        } else {
            section->push_back(section == &cases.back().Captured ? Unescaped(line) : line);
        }
    }
    for (TPreviewCase& previewCase : cases) {
        DropTrailingEmpty(previewCase.Captured);
        DropTrailingEmpty(previewCase.Text);
        DropTrailingEmpty(previewCase.Attachments);
    }
    return cases;
}

class PreviewText : public testing::TestWithParam<TPreviewCase>
{};

TEST_P(PreviewText, ShowsTheTextAndTheAttachmentNames)
{
    EXPECT_EQ(ExtractBodyText(GetParam().Captured), GetParam().Text);
    EXPECT_EQ(ExtractAttachmentNames(GetParam().Captured), GetParam().Attachments);
}

INSTANTIATE_TEST_SUITE_P(Messages, PreviewText, testing::ValuesIn(LoadCases()),
                         [](const testing::TestParamInfo<TPreviewCase>& param) {
                             std::string name = "Case" + std::to_string(param.index) + "_";
                             for (const char c : param.param.Name)
                                 if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                     (c >= '0' && c <= '9'))
                                     name += c;
                             return name.substr(0, 40);
                         });

} // namespace
