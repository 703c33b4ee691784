#include "pop3/MimeText.h"

#include "pop3/HeaderText.h"
#include "pop3/HtmlText.h"
#include "pop3/StrUtils.h"

#include <algorithm>
#include <gmime/gmime.h>
#include <memory>
#include <mutex>
#include <string_view>

namespace {

// Deeper nesting than any mail program writes; it bounds the walk over hostile input.
constexpr int MaxNesting = 32;

struct TUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T> using TRef = std::unique_ptr<T, TUnref>;

struct TFreeOptions
{
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// A message parsed from captured lines; its parts live as long as it does.
class TParsedMessage
{
public:
    explicit TParsedMessage(const std::vector<std::string>& lines)
    {
        InitLibrary();
        std::string text;
        for (const std::string& line : lines) {
            text += line;
            text += '\n';
        }
        TRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
        TRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        std::unique_ptr<GMimeParserOptions, TFreeOptions> options(g_mime_parser_options_new());
        // Raw 8-bit header text as the header texts of the list read it.
        const char* fallback[] = {"UTF-8", "WINDOWS-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
        FMessage.reset(g_mime_parser_construct_message(parser.get(), options.get()));
        if (FMessage)
            Collect(g_mime_message_get_mime_part(FMessage.get()), 0);
    }

    // The parts that are not multiparts, in message order.
    const std::vector<GMimeObject*>& Parts() const { return FParts; }

private:
    void Collect(GMimeObject* object, int depth)
    {
        if (object == nullptr)
            return;
        if (!GMIME_IS_MULTIPART(object)) {
            FParts.push_back(object);
            return;
        }
        if (depth >= MaxNesting)
            return;
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int index = 0; index < count; ++index)
            Collect(g_mime_multipart_get_part(multipart, index), depth + 1);
    }

    TRef<GMimeMessage> FMessage;
    std::vector<GMimeObject*> FParts;
};

bool IsInlineText(GMimeObject* object, const char* subtype)
{
    if (!GMIME_IS_PART(object) || g_mime_part_is_attachment(GMIME_PART(object)))
        return false;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    return type != nullptr && g_mime_content_type_is_type(type, "text", subtype);
}

// The part's content with its transfer encoding undone.
std::string DecodedContent(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr)
        return {};
    TRef<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.get());
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    if (bytes == nullptr)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

std::string PartText(GMimeObject* object, bool html)
{
    const std::string content = DecodedContent(GMIME_PART(object));
    const char* declared = g_mime_object_get_content_type_parameter(object, "charset");
    std::string charset = declared != nullptr ? declared : "";
    if (html && charset.empty())
        charset = HtmlCharset(content);
    const std::string text = DecodeBodyText(content, charset);
    return html ? HtmlToText(text) : text;
}

bool IsBlankLine(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

} // namespace

// A control character (other than a tab) could change a terminal's state or hide text, so it
// becomes U+FFFD.
std::string ShownLine(std::string_view line)
{
    std::string shown;
    shown.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        const bool c1 = byte == 0xC2 && i + 1 < line.size() &&
                        static_cast<unsigned char>(line[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(line[i + 1]) <= 0x9F;
        if ((byte < 0x20 && line[i] != '\t') || byte == 0x7F || c1) {
            shown += "\xEF\xBF\xBD";
            i += c1 ? 1 : 0;
        } else {
            shown += line[i];
        }
    }
    return shown;
}

std::string BodyLineText(std::string_view line)
{
    return ShownLine(DecodeBodyText(line, {}));
}

namespace {

std::vector<std::string> Lines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(ShownLine(line));
        start = end + 1;
    }
    while (!lines.empty() && IsBlankLine(lines.back()))
        lines.pop_back();
    const auto first = std::find_if_not(lines.begin(), lines.end(),
                                        [](const std::string& line) { return IsBlankLine(line); });
    lines.erase(lines.begin(), first);
    return lines;
}

} // namespace

bool IsMimeMessage(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        if (line.empty())
            return false;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.front() == ' ' || line.front() == '\t')
            continue;
        const std::string_view name = Trim(std::string_view(line).substr(0, colon));
        if (SameText(name, "MIME-Version") || SameText(name, "Content-Type") ||
            SameText(name, "Content-Transfer-Encoding"))
            return true;
    }
    return false;
}

std::vector<std::string> MimeBodyText(const std::vector<std::string>& lines)
{
    const TParsedMessage message(lines);
    // A plain part left empty (as some programs send beside the HTML one) shows nothing, so
    // the next text is looked for.
    for (const char* subtype : {"plain", "html"}) {
        for (GMimeObject* part : message.Parts()) {
            if (!IsInlineText(part, subtype))
                continue;
            std::vector<std::string> text =
                Lines(PartText(part, std::string_view(subtype) == "html"));
            if (!text.empty())
                return text;
        }
    }
    return {};
}

std::vector<std::string> MimeAttachmentNames(const std::vector<std::string>& lines)
{
    const TParsedMessage message(lines);
    std::vector<std::string> names;
    for (GMimeObject* part : message.Parts()) {
        const char* given = g_mime_object_get_content_disposition_parameter(part, "filename");
        if (given == nullptr || *given == '\0')
            given = g_mime_object_get_content_type_parameter(part, "name");
        if (given == nullptr)
            continue;
        // What the library left encoded (a word inside an RFC 2231 value) and control
        // characters are the header texts' business.
        std::string name(Trim(DecodeHeaderText(given)));
        const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& seen) {
            return SameText(seen, name);
        });
        if (!name.empty() && !known)
            names.push_back(std::move(name));
    }
    return names;
}
