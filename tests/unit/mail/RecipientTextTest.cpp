#include "mail/RecipientText.h"

#include "mail/MessageRow.h"

#include <gtest/gtest.h>

namespace {

using TLines = std::vector<std::string>;

} // namespace

TEST(RecipientText, SplitCommaTextUndoesCommaText)
{
    const TLines table[] = {
        {"alice@example.org"},
        {"alice@example.org", "\"Doe, Jo\" <jo@example.org>", "Bob <bob@example.org>"},
        {"a\"b", "", "c d"},
        {""},
    };
    for (const TLines& entries : table)
        EXPECT_EQ(SplitCommaText(CommaText(entries)), entries) << CommaText(entries);
    EXPECT_TRUE(SplitCommaText("").empty());
}

TEST(RecipientText, ReadsAsAPersonWritesAddresses)
{
    const struct
    {
        TLines Items;
        const char* Readable;
    } table[] = {
        {{"Demo User <demo@example.org>", "team@example.com"},
         "Demo User <demo@example.org>, team@example.com"},
        {{"\"Demo User\" <demo@example.org>"}, "Demo User <demo@example.org>"},
        // A name with a comma keeps its quotes, or the list would read as two people.
        {{"\"Hart, Simon\" <simon@example.com>", "<bare@example.com>"},
         "\"Hart, Simon\" <simon@example.com>, bare@example.com"},
        {{"=?UTF-8?B?Wm/DqyBOb3bDoWs=?= <demo@example.org>"},
         "Zo\xC3\xAB Nov\xC3\xA1k <demo@example.org>"},
        {{"\"Say \\\"hi\\\"\" <hi@example.org>"}, "Say \"hi\" <hi@example.org>"},
        {{"jane@example.org (Jane Doe)"}, "jane@example.org (Jane Doe)"},
        {{"", "  "}, ""},
    };
    for (const auto& row : table)
        EXPECT_EQ(ReadableRecipients(CommaText(row.Items)), row.Readable) << row.Readable;
}
