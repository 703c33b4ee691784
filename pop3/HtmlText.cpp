#include "pop3/HtmlText.h"

#include "pop3/StrUtils.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <vector>

namespace {

constexpr std::size_t WrapColumn = 78;
constexpr std::string_view NoBreakSpace = "\xC2\xA0";

// The entity names of U+00A0 to U+00FF, in code point order (HTML 4, Latin-1).
constexpr std::array<std::string_view, 96> Latin1Entities = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct TEntity
{
    std::string_view Name;
    char32_t CodePoint;
};

// The other entities mail programs write.
constexpr TEntity OtherEntities[] = {
    {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},
    {"apos", '\''},     {"euro", 0x20AC},   {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013},  {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},
    {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"bull", 0x2022},
    {"trade", 0x2122},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"OElig", 0x0152},  {"oelig", 0x0153},
    {"Scaron", 0x0160}, {"scaron", 0x0161}, {"Yuml", 0x0178},   {"fnof", 0x0192},
    {"circ", 0x02C6},   {"tilde", 0x02DC},  {"ensp", 0x2002},   {"emsp", 0x2003},
    {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},
    {"rlm", 0x200F},    {"larr", 0x2190},   {"rarr", 0x2192},   {"uarr", 0x2191},
    {"darr", 0x2193},   {"hearts", 0x2665}, {"check", 0x2713}};

bool IsAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHtmlBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string LowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The code point of a named entity; 0 when the name is not one.
char32_t NamedEntity(std::string_view name)
{
    for (std::size_t index = 0; index < Latin1Entities.size(); ++index)
        if (Latin1Entities[index] == name)
            return static_cast<char32_t>(0xA0 + index);
    for (const TEntity& entity : OtherEntities)
        if (entity.Name == name)
            return entity.CodePoint;
    return 0;
}

// A character reference at text[at] ("&"): its code point and length, or a length of 0 when
// the text there is not one and the ampersand stands for itself.
std::size_t ReadReference(std::string_view text, std::size_t at, char32_t& codePoint)
{
    std::size_t i = at + 1;
    if (i < text.size() && text[i] == '#') {
        ++i;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        if (hex)
            ++i;
        const std::size_t digitsStart = i;
        char32_t value = 0;
        while (i < text.size() && i - digitsStart < 8) {
            const int digit = hex ? HexDigitValue(text[i])
                                  : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
            if (digit < 0)
                break;
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            ++i;
        }
        if (i == digitsStart)
            return 0;
        if (i < text.size() && text[i] == ';')
            ++i;
        codePoint = value;
        return i - at;
    }
    const std::size_t nameStart = i;
    while (i < text.size() && IsAsciiLetterOrDigit(text[i]) && i - nameStart < 10)
        ++i;
    if (i == nameStart || i >= text.size() || text[i] != ';')
        return 0;
    codePoint = NamedEntity(text.substr(nameStart, i - nameStart));
    return codePoint == 0 ? 0 : i + 1 - at;
}

std::string DecodeReferences(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t codePoint = 0;
        const std::size_t length = text[i] == '&' ? ReadReference(text, i, codePoint) : 0;
        if (length == 0) {
            out += text[i];
            continue;
        }
        // A reference to nothing, or to half a UTF-16 pair, stands for no character.
        const bool character =
            codePoint != 0 && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
        AppendUtf8(out, character ? codePoint : 0xFFFD);
        i += length - 1;
    }
    return out;
}

// Text with the breaks and blanks that the elements around it ask for.
class TTextBuilder
{
public:
    // Decoded text: blanks collapse, unless it is preformatted.
    void Text(std::string_view text, bool preformatted)
    {
        for (const char c : text) {
            if (preformatted && c == '\r')
                continue;
            if (preformatted && c == '\n') {
                FlushBreak();
                FOut += '\n';
                FBlank = false;
                continue;
            }
            if (!preformatted && IsHtmlBlank(c)) {
                Blank();
                continue;
            }
            if (!FlushBreak() && FBlank)
                FOut += ' ';
            FBlank = false;
            FOut += c;
        }
    }

    // lines 1 ends the line, 2 leaves an empty line as well.
    void Break(int lines)
    {
        FBreak = std::max(FBreak, lines);
        FBlank = false;
    }

    void Blank() { FBlank = !AtLineStart() && FOut.back() != ' '; }

    const std::string& Result() const { return FOut; }

private:
    bool AtLineStart() const { return FOut.empty() || FOut.back() == '\n' || FBreak > 0; }

    // Writes a pending break; false when there was none.
    bool FlushBreak()
    {
        if (FBreak == 0)
            return false;
        if (!FOut.empty()) {
            int present = 0;
            for (auto it = FOut.rbegin(); it != FOut.rend() && *it == '\n'; ++it)
                ++present;
            for (; present < FBreak; ++present)
                FOut += '\n';
        }
        FBreak = 0;
        return true;
    }

    std::string FOut;
    int FBreak = 0;
    bool FBlank = false;
};

bool OneOf(const std::string& name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Where the closing tag of name begins, searched from from; npos when there is none. A head
// without its end tag ends where the body begins.
std::size_t FindClosing(std::string_view html, std::size_t from, const std::string& name)
{
    std::size_t best = std::string_view::npos;
    const std::string closing = "</" + name;
    for (std::size_t i = from; i + closing.size() <= html.size(); ++i) {
        if (html[i] != '<')
            continue;
        const std::string candidate = LowerCase(html.substr(i, closing.size()));
        if (candidate == closing || (name == "head" && LowerCase(html.substr(i, 5)) == "<body")) {
            best = i;
            break;
        }
    }
    return best;
}

// The end of the tag that starts at at ("<"): the position after its ">", quoted attribute
// values skipped; npos when the text ends first.
std::size_t TagEnd(std::string_view html, std::size_t at)
{
    char quote = 0;
    for (std::size_t i = at + 1; i < html.size(); ++i) {
        const char c = html[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

std::size_t CodePoints(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The byte position of the character after the first count characters.
std::size_t BytesOf(std::string_view text, std::size_t count)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count)
                return i;
            ++seen;
        }
    }
    return text.size();
}

void AppendWrapped(std::string& out, std::string_view line)
{
    while (CodePoints(line) > WrapColumn) {
        const std::size_t limit = BytesOf(line, WrapColumn);
        std::size_t cut = line.rfind(' ', limit);
        if (cut == std::string_view::npos || cut == 0)
            cut = line.find(' ', limit);
        if (cut == std::string_view::npos)
            break;
        out.append(line.substr(0, cut));
        out += '\n';
        line = line.substr(cut + 1);
    }
    out.append(line);
}

std::string Wrapped(std::string_view text)
{
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        AppendWrapped(out, text.substr(start, end - start));
        if (end == text.size())
            break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

} // namespace

std::string HtmlToText(std::string_view html)
{
    TTextBuilder text;
    int preformatted = 0;
    std::size_t i = 0;
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        const std::size_t textEnd = lt == std::string_view::npos ? html.size() : lt;
        text.Text(DecodeReferences(html.substr(i, textEnd - i)), preformatted > 0);
        if (lt == std::string_view::npos)
            break;
        i = lt;
        if (html.substr(i, 4) == "<!--") {
            const std::size_t end = html.find("-->", i + 4);
            if (end == std::string_view::npos)
                break;
            i = end + 3;
            continue;
        }
        std::size_t nameStart = i + 1;
        const bool closing = nameStart < html.size() && html[nameStart] == '/';
        if (closing)
            ++nameStart;
        std::size_t nameEnd = nameStart;
        while (nameEnd < html.size() && IsAsciiLetterOrDigit(html[nameEnd]))
            ++nameEnd;
        const bool declaration = i + 1 < html.size() && (html[i + 1] == '!' || html[i + 1] == '?');
        if (nameEnd == nameStart && !declaration) {
            // A "<" that starts no tag is text.
            text.Text("<", preformatted > 0);
            ++i;
            continue;
        }
        const std::size_t end = TagEnd(html, i);
        if (end == std::string_view::npos)
            break;
        i = end;
        if (declaration)
            continue;
        const std::string name = LowerCase(html.substr(nameStart, nameEnd - nameStart));
        if (!closing && OneOf(name, {"head", "script", "style", "title", "template"})) {
            const std::size_t close = FindClosing(html, i, name);
            if (close == std::string_view::npos)
                break;
            i = close;
            if (html.substr(close, 2) == "</") {
                const std::size_t closeEnd = TagEnd(html, close);
                if (closeEnd == std::string_view::npos)
                    break;
                i = closeEnd;
            }
            continue;
        }
        if (name == "br") {
            text.Break(1);
        } else if (OneOf(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol", "table",
                                "blockquote", "pre", "dl", "hr"})) {
            text.Break(2);
            if (name == "pre")
                preformatted = std::max(0, preformatted + (closing ? -1 : 1));
        } else if (OneOf(name, {"div", "tr", "li", "dt", "dd", "section", "article", "header",
                                "footer", "nav", "aside", "main", "form", "address", "center",
                                "figure", "figcaption", "caption"})) {
            text.Break(1);
            if (name == "li" && !closing)
                text.Text("- ", true);
        } else if (OneOf(name, {"td", "th"})) {
            text.Blank();
        }
    }
    // A no-break space held words together while blanks collapsed; a reader copies a blank.
    std::string_view built = text.Result();
    while (!built.empty() && built.back() == '\n')
        built.remove_suffix(1);
    std::string result;
    result.reserve(built.size());
    for (std::size_t at = 0; at < built.size(); ++at) {
        const bool noBreak = built.substr(at, NoBreakSpace.size()) == NoBreakSpace;
        result += noBreak ? ' ' : built[at];
        at += noBreak ? NoBreakSpace.size() - 1 : 0;
    }
    return Wrapped(result);
}

std::string HtmlCharset(std::string_view html)
{
    const std::string head = LowerCase(html.substr(0, 2048));
    for (std::size_t meta = head.find("<meta"); meta != std::string::npos;
         meta = head.find("<meta", meta + 5)) {
        const std::size_t end = std::min(head.find('>', meta), head.size());
        const std::size_t charset = head.find("charset", meta);
        if (charset == std::string::npos || charset > end)
            continue;
        std::size_t i = charset + 7;
        while (i < end &&
               (IsHtmlBlank(head[i]) || head[i] == '=' || head[i] == '"' || head[i] == '\''))
            ++i;
        const std::size_t start = i;
        while (i < end && (IsAsciiLetterOrDigit(head[i]) ||
                           std::string_view("-_.:").find(head[i]) != std::string_view::npos))
            ++i;
        if (i > start)
            return std::string(html.substr(start, i - start));
    }
    return {};
}
