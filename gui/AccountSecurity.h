#pragma once

#include "config/Data.h"
#include "pop3/InterruptibleSocketApi.h"
#include "pop3/TlsTransport.h"

#include <QMetaType>
#include <QString>
#include <QThread>

#include <cstdint>

class QComboBox;
class QGridLayout;
class QLineEdit;
class QWidget;

// The security part of the settings dialog's account pages: the "Security" drop-down, the
// "Trusted certificate" field, the port that goes with a security choice, and the fetching of a
// server's certificate for the "Trust this certificate" step.
namespace AccountSecurity {

// Adds the rows "Security" and "Trusted certificate" below the rows already in grid; the
// controls are named cmb<prefix>Security and edt<prefix>TrustedCertificate.
void AddRows(QGridLayout* grid, QWidget* page, const char* prefix, QComboBox*& security,
             QLineEdit*& trustedCertificate);

// The port after the user chose security: 995 for SSL/TLS where the port was 110, 110 for
// None or STARTTLS where it was 995; any other port is the user's own and stays.
std::int32_t PortFor(std::int32_t security, std::int32_t port);
// The port an account of this security starts with, and falls back to.
std::int32_t DefaultPortFor(std::int32_t security);

// The question of the "Trust this certificate" step: what the server at host presents, its
// fingerprint, and what keeps it from being accepted without trust.
QString TrustQuestion(const QString& host, std::int32_t port, const TPeerCertificate& certificate);

} // namespace AccountSecurity

// Fetches the certificate an account's server presents, on a thread of its own so the dialog
// stays responsive. It frees itself when it has ended; destroyed earlier (the dialog closing),
// it breaks off the connection and waits for the thread.
class TCertificateFetch : public QThread
{
    Q_OBJECT

public:
    // account: host, port and security; timeoutMs bounds every wait.
    TCertificateFetch(const TAccount& account, int timeoutMs, QObject* parent = nullptr);
    ~TCertificateFetch() override;

Q_SIGNALS:
    void Fetched(const TPeerCertificate& certificate);
    // The reason in the user's words.
    void Failed(const QString& reason);

private:
    void run() override;

    const TAccount FAccount;
    const int FTimeoutMs;
    TInterruptibleSocketApi FSockets;
};

Q_DECLARE_METATYPE(TPeerCertificate)
