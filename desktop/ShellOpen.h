#pragma once

#include <QString>

#include <functional>

class QUrl;

// The desktop's open service: hands an address or a document to its default handler and starts
// programs. It never waits for what it started and never reports what became of it.
class IShellOpen
{
public:
    virtual ~IShellOpen() = default;
    // file: a web or mail address ("http:", "https:", "mailto:"...), a document, or a
    // program, which is started with the parameters split as a shell would split them.
    virtual void Open(const QString& file, const QString& parameters) = 0;
};

// Addresses and documents go to the desktop's default handler, programs are started detached.
class TShellOpen : public IShellOpen
{
public:
    using TUrlHandler = std::function<bool(const QUrl&)>;

    // urlHandler defaults to the desktop's (QDesktopServices::openUrl).
    explicit TShellOpen(TUrlHandler urlHandler = {});

    void Open(const QString& file, const QString& parameters) override;

private:
    TUrlHandler FUrlHandler;
};
