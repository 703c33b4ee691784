#include "config/RegFile.h"

#include "config/KeyStore.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const TRegValue& ValueAt(TRegTreeKey& root, const std::string& path, const std::string& name)
{
    TRegTreeKey* key = root.Find(path);
    if (key == nullptr)
        throw std::runtime_error("no key " + path);
    const TRegValue* value = key->FindValue(name);
    if (value == nullptr)
        throw std::runtime_error("no value " + name);
    return *value;
}

std::string ParseError(const std::string& text)
{
    try {
        ParseRegFile(text, "/home/u/store.reg");
    } catch (const ERegistryError& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST(RegFile, ReadsStringsIntegersAndOtherFormsWithEitherLineEnd)
{
    const std::string text =
        "REGEDIT4\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Hollinway\\Mailbeacon 2.0\\Settings]\r\n"
        "\"Sound\"=\"C:\\\\Media\\\\\\\"ding\\\".wav\"\r\n"
        "\"Interval\"=dword:000493e0\n"
        "\"Negative\"=dword:FFFFFFFF\n"
        "\"Blob\"=hex:01,02,\\\n"
        "  03,04\n"
        "@=\"default\"\n"
        "; a comment\n";
    TRegTreeKey root = ParseRegFile(text, "store.reg");
    const std::string path = "Software\\Hollinway\\Mailbeacon 2.0\\Settings";
    EXPECT_EQ(ValueAt(root, path, "Sound").Text, "C:\\Media\\\"ding\".wav");
    EXPECT_EQ(ValueAt(root, path, "interval").Kind, TValueKind::Integer);
    EXPECT_EQ(ValueAt(root, path, "INTERVAL").Integer, 300000);
    EXPECT_EQ(ValueAt(root, path, "Negative").Integer, -1);
    EXPECT_EQ(ValueAt(root, path, "Blob").Kind, TValueKind::Other);
    EXPECT_EQ(ValueAt(root, path, "Blob").Text, "hex:01,02,\\\r\n  03,04");
    EXPECT_EQ(ValueAt(root, path, "").Text, "default");
}

TEST(RegFile, WritesWhatItReadsByteForByte)
{
    const std::string text =
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Hollinway\\Mailbeacon 2.0\\Accounts\\home]\r\n"
        "\"Host\"=\"pop.example.org\"\r\n"
        "\"Port\"=dword:0000006e\r\n"
        "\"Odd\"=hex(2):41,00,\\\r\n"
        "  42,00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Hollinway\\Mailbeacon 2.0\\Accounts\\Work]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Hollinway\\Mailbeacon 2.0\\Settings]\r\n"
        "\"Quote\"=\"say \\\"hi\\\" \\\\ bye\"\r\n"
        "\"Lines\"=\"one\\r\\ntwo\"\r\n"
        "\"Grüße\"=\"Ünïcödé\"\r\n"
        "\r\n";
    EXPECT_EQ(FormatRegFile(ParseRegFile(text, "store.reg")), text);
}

TEST(RegFile, SubKeysAreKeptInAlphabeticalOrderIgnoringCase)
{
    TRegTreeKey root;
    root.Create("A\\zeta");
    root.Create("A\\Beta");
    root.Create("A\\alpha");
    root.Create("A\\ALPHA"); // the same key: names ignore case
    std::string names;
    for (const auto& key : root.Find("a")->SubKeys())
        names += key->Name() + " ";
    EXPECT_EQ(names, "alpha Beta zeta ");
    root.Create("A\\Äpfel");
    EXPECT_EQ(root.Find("a\\äPFEL"), root.Find("A\\Äpfel"));
    EXPECT_TRUE(root.Remove("a\\BETA"));
    EXPECT_FALSE(root.Remove("a\\BETA"));
}

TEST(RegFile, SettingAValueKeepsTheCaseItWasFirstWrittenWith)
{
    TRegTreeKey key;
    key.SetValue({"UserId", TValueKind::String, "alice", 0});
    key.SetValue({"USERID", TValueKind::Integer, {}, 5});
    ASSERT_EQ(key.Values().size(), 1u);
    EXPECT_EQ(key.Values()[0].Name, "UserId");
    EXPECT_EQ(key.Values()[0].Kind, TValueKind::Integer);
}

TEST(RegFile, BrokenFilesNameTheFileAndLine)
{
    EXPECT_EQ(ParseError(""), "/home/u/store.reg, line 0: the file is empty");
    EXPECT_EQ(ParseError("REGEDIT5\r\n"),
              "/home/u/store.reg, line 1: the file does not begin with \"REGEDIT4\"");
    EXPECT_EQ(ParseError("REGEDIT4\r\n\r\n\"Host\"=\"x\"\r\n"),
              "/home/u/store.reg, line 3: a value before the first key");
    const std::string key = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n";
    EXPECT_EQ(ParseError(key + "\"Host\"=\"pop.exa"),
              "/home/u/store.reg, line 4: a quoted text without its closing quote");
    EXPECT_EQ(ParseError(key + "\"Host\"=\"a\"b\r\n"),
              "/home/u/store.reg, line 4: text after the closing quote");
    EXPECT_EQ(ParseError(key + "\"Host\"\r\n"),
              "/home/u/store.reg, line 4: a value name without \"=\"");
    EXPECT_EQ(ParseError(key + "\"Path\"=\"C:\\Mail\"\r\n"),
              "/home/u/store.reg, line 4: an unknown escape \"\\M\" in a quoted text");
    EXPECT_EQ(ParseError(key + "Host=x\r\n"),
              "/home/u/store.reg, line 4: neither a key nor a value");
    EXPECT_EQ(ParseError(key + "[HKEY_LOCAL_MACHINE\\Software]\r\n"),
              "/home/u/store.reg, line 4: a key outside HKEY_CURRENT_USER");
    EXPECT_EQ(ParseError(key + "[HKEY_CURRENT_USER\\Software\r\n"),
              "/home/u/store.reg, line 4: a key line without its closing \"]\"");
}

TEST(RegFile, AcceptsAByteOrderMarkButNoRootThatMerelyStartsAlike)
{
    TRegTreeKey root = ParseRegFile("\xEF\xBB\xBFREGEDIT4\n\n[hkey_current_user\\A]\n", "x");
    EXPECT_NE(root.Find("A"), nullptr);
    EXPECT_EQ(ParseError("REGEDIT4\n\n[HKEY_CURRENT_USERS\\A]\n"),
              "/home/u/store.reg, line 3: a key outside HKEY_CURRENT_USER");
}

TEST(RegFile, CommentsStayWhereTheyStoodThroughChanges)
{
    const std::string text = "REGEDIT4\r\n"
                             "\r\n"
                             "; my accounts, kept in my dotfiles\r\n"
                             "[HKEY_CURRENT_USER\\A\\Home]\r\n"
                             "; the old server\r\n"
                             "\"Host\"=\"pop.example.org\"\r\n"
                             "\"Port\"=dword:0000006e\r\n"
                             "\r\n"
                             "; implied key, written for its comment\r\n"
                             "[HKEY_CURRENT_USER\\B]\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER\\B\\C]\r\n"
                             "\r\n"
                             "; the end\r\n";
    TRegTreeKey root = ParseRegFile(text, "store.reg");
    EXPECT_EQ(FormatRegFile(root), text);

    root.Find("A\\Home")->SetValue({"Host", TValueKind::String, "pop.new.example", 0});
    root.Find("A\\Home")->SetValue({"Include", TValueKind::Integer, {}, 1});
    root.Create("A\\Alpha").SetValue({"Host", TValueKind::String, "x", 0});
    const std::string changed = FormatRegFile(root);
    EXPECT_NE(changed.find("; the old server\r\n\"Host\"=\"pop.new.example\"\r\n"),
              std::string::npos)
        << changed;
    EXPECT_NE(changed.find("; my accounts, kept in my dotfiles\r\n[HKEY_CURRENT_USER\\A\\Home]"),
              std::string::npos)
        << changed;
    EXPECT_EQ(changed.substr(changed.size() - 11), "; the end\r\n");
}

TEST(RegFile, KeysNestedBeyondTheLimitAreAParseErrorNotACrash)
{
    const auto nested = [](std::size_t depth) {
        std::string path = "[HKEY_CURRENT_USER";
        for (std::size_t level = 0; level < depth; ++level)
            path += "\\k";
        return "REGEDIT4\r\n\r\n; deep\r\n" + path + "]\r\n\"V\"=\"1\"\r\n";
    };
    EXPECT_NO_THROW(FormatRegFile(ParseRegFile(nested(MaxKeyDepth), "store.reg")));
    EXPECT_EQ(ParseError(nested(MaxKeyDepth + 1)),
              "/home/u/store.reg, line 4: a key nested deeper than 64 levels");
    // Tens of thousands of levels once overflowed the stack when the tree was written.
    EXPECT_EQ(ParseError(nested(30000)),
              "/home/u/store.reg, line 4: a key nested deeper than 64 levels");
}
