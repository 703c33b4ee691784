#include "app/CommandSupport.h"

#include "config/FileKeyStore.h"
#include "config/PassCrypt.h"
#include "config/StorePath.h"

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
    if (!std::filesystem::is_regular_file(settings.FileName, error)) {
        err << "mailbeacon: cannot read the settings file " << settings.FileName
            << ": it does not exist\n";
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
        err << "mailbeacon: " << failure.what() << "\n";
        return std::nullopt;
    }
}

std::string Utf8(const std::string& text)
{
    return QString::fromStdString(text).toStdString();
}

std::string OneLine(const std::string& text)
{
    std::string line;
    for (const char c : Utf8(text)) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    return line;
}

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
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                result += escaped;
            } else {
                result += c;
            }
        }
    }
    return result + "\"";
}
