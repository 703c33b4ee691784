#include "app/CommandSupport.h"

#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "config/StorePath.h"
#include "pop3/HeaderText.h"

#include <QString>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <ostream>

std::optional<TStoredSettings> ReadStoredSettings(const std::vector<std::string>& arguments,
                                                  std::ostream& err)
{
    TStoredSettings settings;
    settings.FileName = StoreFileName(arguments);
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::status(settings.FileName, error);
    if (kind.type() != std::filesystem::file_type::regular) {
        const char* what =
            kind.type() == std::filesystem::file_type::not_found   ? "it does not exist"
            : kind.type() == std::filesystem::file_type::directory ? "it is a folder, not a file"
                                                                   : "it is not a regular file";
        err << "mailbeacon: cannot read the settings file " << OneLine(settings.FileName) << ": "
            << what << "\n";
        return std::nullopt;
    }
    try {
        TFileKeyStore store(settings.FileName);
        TCryptLib cipher = MakeProgramCipher();
        LoadAccounts(store, cipher, settings.Accounts);
        // Asked value by value: loading the options would write the absent ones' defaults.
        if (store.ValueExists(StoreKeys::Settings, "MessagePreview"))
            settings.MessagePreview = store.ReadInteger(StoreKeys::Settings, "MessagePreview");
        return settings;
    } catch (const std::exception& failure) {
        err << "mailbeacon: " << OneLine(failure.what()) << "\n";
        return std::nullopt;
    }
}

std::string Utf8(const std::string& text)
{
    return QString::fromStdString(text).toStdString();
}

std::string OneLine(const std::string& text)
{
    return PrintableText(text);
}

namespace {

// U+0080 to U+009F as JSON escapes: some terminals obey them as control characters.
std::string EscapeC1(const std::string& utf8)
{
    std::string result;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
        if (static_cast<unsigned char>(utf8[i]) == 0xC2 && next >= 0x80 && next <= 0x9F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", next);
            result += escaped;
            ++i;
        } else {
            result += utf8[i];
        }
    }
    return result;
}

} // namespace

std::string JsonString(const std::string& text)
{
    std::string result = "\"";
    for (const char c : Utf8(text)) {
        switch (c) {
        case '"':
            result += "\\\"";
            break;
        case '\\':
            result += "\\\\";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\r':
            result += "\\r";
            break;
        case '\t':
            result += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                result += escaped;
            } else {
                result += c;
            }
        }
    }
    return EscapeC1(result) + "\"";
}

std::string JsonArray(const std::vector<std::string>& texts)
{
    std::string result = "[";
    for (std::size_t index = 0; index < texts.size(); ++index)
        result += (index > 0 ? ", " : "") + JsonString(texts[index]);
    return result + "]";
}
