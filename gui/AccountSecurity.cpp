#include "gui/AccountSecurity.h"

#include "gui/Controls.h"
#include "mail/MailSession.h"
#include "pop3/Pop3Wire.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include <exception>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("AccountSecurity", text);
}

} // namespace

void AccountSecurity::AddRows(QGridLayout* grid, QWidget* page, const char* prefix,
                              QComboBox*& security, QLineEdit*& trustedCertificate)
{
    const int row = grid->rowCount();
    const QByteArray securityName = QByteArray("cmb") + prefix + "Security";
    security = Controls::Named(new QComboBox(page), securityName.constData());
    // In the order of the stored values, so each item's index is its value.
    security->addItems({Tr("None"), Tr("STARTTLS"), Tr("SSL/TLS")});
    security->setEditable(false);
    security->setToolTip(Tr("None sends the password in plain text. STARTTLS secures the "
                            "connection after the server's greeting (usually port 110), "
                            "SSL/TLS from the first byte (usually port 995)."));
    const QByteArray trustedName = QByteArray("edt") + prefix + "TrustedCertificate";
    trustedCertificate = Controls::Named(new QLineEdit(page), trustedName.constData());
    trustedCertificate->setPlaceholderText(Tr("SHA-256 fingerprint, if any"));
    trustedCertificate->setToolTip(
        Tr("A certificate with this SHA-256 fingerprint is accepted for this account even "
           "when no authority vouches for it. Leave it empty to rely on the authorities."));

    const QByteArray securityLabelName = QByteArray("lbl") + prefix + "Security";
    QLabel* securityLabel = Controls::Label(securityLabelName.constData(), Tr("Security"), page);
    securityLabel->setBuddy(security);
    grid->addWidget(securityLabel, row, 0);
    grid->addWidget(security, row, 1, Qt::AlignLeft);
    const QByteArray trustedLabelName = QByteArray("lbl") + prefix + "TrustedCertificate";
    QLabel* trustedLabel =
        Controls::Label(trustedLabelName.constData(), Tr("Trusted certificate"), page);
    trustedLabel->setBuddy(trustedCertificate);
    grid->addWidget(trustedLabel, row + 1, 0);
    grid->addWidget(trustedCertificate, row + 1, 1);
}

std::int32_t AccountSecurity::PortFor(std::int32_t security, std::int32_t port)
{
    if (security == TAccount::SecurityTls && port == DefaultPort)
        return DefaultSecurePort;
    if (security != TAccount::SecurityTls && port == DefaultSecurePort)
        return DefaultPort;
    return port;
}

std::int32_t AccountSecurity::DefaultPortFor(std::int32_t security)
{
    return security == TAccount::SecurityTls ? DefaultSecurePort : DefaultPort;
}

QString AccountSecurity::TrustQuestion(const QString& host, std::int32_t port,
                                       const TPeerCertificate& certificate)
{
    const QString verdict =
        certificate.Problem.empty()
            ? Tr("Authorities that this computer trusts vouch for it, so trusting it here is "
                 "not needed.")
            : Tr("Mailbeacon does not accept it on its own: %1.")
                  .arg(QString::fromStdString(certificate.Problem));
    return Tr("The server %1 (port %2) presents this certificate:\n\n"
              "Issued to: %3\nIssued by: %4\nValid from %5 until %6\n\n"
              "SHA-256 fingerprint:\n%7\n\n%8\n\n"
              "Trust this certificate for the account? Do so only when the fingerprint is the "
              "one your provider or administrator gives.")
        .arg(host, QString::number(port), QString::fromStdString(certificate.Subject),
             QString::fromStdString(certificate.Issuer),
             QString::fromStdString(certificate.ValidFrom),
             QString::fromStdString(certificate.ValidUntil),
             QString::fromStdString(certificate.Fingerprint), verdict);
}

TCertificateFetch::TCertificateFetch(const TAccount& account, int timeoutMs, QObject* parent)
    : QThread(parent)
    , FAccount(account)
    , FTimeoutMs(timeoutMs)
{
    qRegisterMetaType<TPeerCertificate>();
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TCertificateFetch::~TCertificateFetch()
{
    if (isRunning()) {
        FSockets.Interrupt();
        wait();
    }
}

void TCertificateFetch::run()
{
    TWirePOP3 client;
    client.SetWinsock(FSockets);
    SetAccount(client, FAccount);
    client.ConnectTimeout = FTimeoutMs;
    client.ReadTimeout = FTimeoutMs;
    try {
        Q_EMIT Fetched(client.FetchCertificate());
    } catch (const std::exception& error) {
        Q_EMIT Failed(QString::fromStdString(error.what()));
    }
}
