#include "config/RegFile.h"

#include "config/KeyStore.h"
#include "pop3/StrUtils.h"

#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view Header = "REGEDIT4";
constexpr std::string_view RootName = "HKEY_CURRENT_USER";
constexpr std::string_view DwordPrefix = "dword:";

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

class TParser
{
public:
    TParser(const std::string& text, const std::string& fileName)
        : FText(text)
        , FFileName(fileName)
    {}

    TRegTreeKey Run()
    {
        TRegTreeKey root;
        TRegTreeKey* key = nullptr;
        bool seenHeader = false;
        // Comment lines belong to the key or value line that follows them, so that they stay
        // where the user wrote them when the file is written again.
        std::vector<std::string> comments;
        std::string_view line;
        while (NextLine(line)) {
            if (!seenHeader) {
                if (FLineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
                    line.remove_prefix(3);
                if (line != Header)
                    Fail("the file does not begin with \"REGEDIT4\"");
                seenHeader = true;
            } else if (line.empty()) {
                continue;
            } else if (line.front() == ';') {
                comments.emplace_back(line);
            } else if (line.front() == '[') {
                key = &root.Create(KeyPath(line));
                key->AddComments(std::exchange(comments, {}));
            } else if (key == nullptr) {
                Fail("a value before the first key");
            } else if (line.front() == '"' || line.front() == '@') {
                TRegValue value = Value(line);
                value.Comments = std::exchange(comments, {});
                key->SetValue(std::move(value));
            } else {
                Fail("neither a key nor a value");
            }
        }
        if (!seenHeader)
            Fail("the file is empty");
        root.SetTrailingComments(std::move(comments));
        return root;
    }

private:
    bool NextLine(std::string_view& line)
    {
        if (FPos >= FText.size())
            return false;
        const std::size_t end = std::min(FText.find('\n', FPos), FText.size());
        line = TrimRight(std::string_view(FText).substr(FPos, end - FPos));
        FPos = end + 1;
        ++FLineNumber;
        return true;
    }

    [[noreturn]] void Fail(const std::string& problem) const
    {
        throw ERegistryError(FFileName + ", line " + std::to_string(FLineNumber) + ": " + problem);
    }

    std::string_view KeyPath(std::string_view line) const
    {
        if (line.back() != ']')
            Fail("a key line without its closing \"]\"");
        std::string_view path = line.substr(1, line.size() - 2);
        if (FoldCase(path.substr(0, RootName.size())) != FoldCase(RootName) ||
            (path.size() > RootName.size() && path[RootName.size()] != '\\'))
            Fail("a key outside HKEY_CURRENT_USER");
        path.remove_prefix(RootName.size());
        if (SplitKeyPath(path).size() > MaxKeyDepth)
            Fail("a key nested deeper than " + std::to_string(MaxKeyDepth) + " levels");
        return path;
    }

    // Reads a quoted text starting at line[pos] (the opening quote); pos ends after the
    // closing quote.
    std::string Quoted(std::string_view line, std::size_t& pos) const
    {
        std::string text;
        for (++pos; pos < line.size(); ++pos) {
            const char c = line[pos];
            if (c == '"') {
                ++pos;
                return text;
            }
            if (c != '\\') {
                text += c;
                continue;
            }
            if (++pos == line.size())
                break;
            switch (line[pos]) {
            case '\\':
            case '"':
                text += line[pos];
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            default:
                Fail(std::string("an unknown escape \"\\") + line[pos] + "\" in a quoted text");
            }
        }
        Fail("a quoted text without its closing quote");
    }

    TRegValue Value(std::string_view line)
    {
        TRegValue value;
        std::size_t pos = 0;
        if (line.front() == '@')
            pos = 1;
        else
            value.Name = Quoted(line, pos);
        if (pos >= line.size() || line[pos] != '=')
            Fail("a value name without \"=\"");
        const std::string_view data = line.substr(pos + 1);
        if (!data.empty() && data.front() == '"') {
            std::size_t end = 0;
            value.Kind = TValueKind::String;
            value.Text = Quoted(data, end);
            if (end != data.size())
                Fail("text after the closing quote");
        } else if (IsDword(data)) {
            value.Kind = TValueKind::Integer;
            value.Integer = static_cast<std::int32_t>(
                std::stoul(std::string(data.substr(DwordPrefix.size())), nullptr, 16));
        } else {
            value.Kind = TValueKind::Other;
            value.Text = std::string(data);
            // A long binary value continues on the next lines after a trailing backslash.
            std::string_view next;
            while (!value.Text.empty() && value.Text.back() == '\\' && NextLine(next))
                value.Text += "\r\n" + std::string(next);
        }
        return value;
    }

    static bool IsDword(std::string_view data)
    {
        if (data.size() != DwordPrefix.size() + 8 ||
            data.substr(0, DwordPrefix.size()) != DwordPrefix)
            return false;
        for (const char c : data.substr(DwordPrefix.size())) {
            if (HexDigitValue(c) < 0)
                return false;
        }
        return true;
    }

    const std::string& FText;
    const std::string& FFileName;
    std::size_t FPos = 0;
    int FLineNumber = 0;
};

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out + '"';
}

void FormatComments(const std::vector<std::string>& comments, std::string& out)
{
    for (const std::string& line : comments)
        out += line + "\r\n";
}

void FormatKey(const TRegTreeKey& key, const std::string& path, std::string& out)
{
    if (!key.Values().empty() || key.SubKeys().empty() || !key.Comments().empty()) {
        FormatComments(key.Comments(), out);
        out += "[" + path + "]\r\n";
        for (const TRegValue& value : key.Values()) {
            FormatComments(value.Comments, out);
            out += value.Name.empty() ? std::string("@") : Quote(value.Name);
            out += '=';
            switch (value.Kind) {
            case TValueKind::String:
                out += Quote(value.Text);
                break;
            case TValueKind::Integer: {
                char digits[9];
                std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.Integer));
                out += std::string(DwordPrefix) + digits;
                break;
            }
            case TValueKind::Other:
                out += value.Text;
                break;
            }
            out += "\r\n";
        }
        out += "\r\n";
    }
    for (const auto& sub : key.SubKeys())
        FormatKey(*sub, path + "\\" + sub->Name(), out);
}

} // namespace

TRegTreeKey ParseRegFile(const std::string& text, const std::string& fileName)
{
    return TParser(text, fileName).Run();
}

std::string FormatRegFile(const TRegTreeKey& root)
{
    std::string out = std::string(Header) + "\r\n\r\n";
    FormatKey(root, std::string(RootName), out);
    FormatComments(root.TrailingComments(), out);
    return out;
}
