#include "gui/SettingsFrm.h"

#include "config/Data.h"
#include "config/KeyStore.h"
#include "desktop/Icons.h"
#include "gui/AccountSecurity.h"
#include "gui/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <utility>
#include <vector>

// A node of the section tree; an account's node holds its account. Nodes sort by text without
// regard to case, the order in which the store lists the accounts.
class TOptionNode : public QTreeWidgetItem
{
public:
    TOptionNode(const QString& text, const QIcon& icon)
        : QTreeWidgetItem(QStringList{text})
    {
        setIcon(0, icon);
    }

    bool operator<(const QTreeWidgetItem& other) const override
    {
        return QString::compare(text(0), other.text(0), Qt::CaseInsensitive) < 0;
    }

    std::shared_ptr<TAccount> Account;
};

namespace {

constexpr int BorderWidth = 5;
constexpr int ClientWidth = 482;
constexpr int ClientHeight = 313;
constexpr int TreeWidth = 125;
constexpr int TreeGap = 6;
constexpr int BottomHeight = 45;
constexpr int MinuteMs = 60000;

const QString AccountsText = QStringLiteral("Accounts");
const QString ApplicationText = QStringLiteral("Application");
const QString ConnectionText = QStringLiteral("Connection");
const QString NotificationText = QStringLiteral("Notification");
const QString IncludeText = QStringLiteral("Include this account when checking mail");

enum TOptionImage
{
    AccountsImage = 0,
    AccountImage = 1,
    ConnectionImage = 2,
    NotificationImage = 3,
    ApplicationImage = 4
};

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// A whole number as typed; blanks around it are allowed.
// Whether the typed fingerprint differs from the stored one; another way of writing the same
// fingerprint is no change, text that is no fingerprint at all is one.
bool FingerprintChanged(const QString& typed, const std::string& stored)
{
    const std::string text = typed.trimmed().toStdString();
    if (text == stored)
        return false;
    const std::string fingerprint = NormalizeFingerprint(text);
    return fingerprint.empty() || fingerprint != stored;
}

bool ParseInteger(const QString& text, std::int32_t& value)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok, 10);
    if (ok)
        value = parsed;
    return ok;
}

QLineEdit* MakeEdit(const char* name, QWidget* parent)
{
    return Controls::Named(new QLineEdit(parent), name);
}

// An edit that can be switched off shows the button-face colour while it is.
QLineEdit* MakeSwitchedEdit(const char* name, QWidget* parent)
{
    QLineEdit* edit = MakeEdit(name, parent);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Disabled, QPalette::Base,
                     palette.color(QPalette::Active, QPalette::Button));
    edit->setPalette(palette);
    return edit;
}

QLineEdit* MakePasswordEdit(const char* name, QWidget* parent)
{
    QLineEdit* edit = MakeEdit(name, parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    return edit;
}

QSpinBox* MakeSpinEdit(const char* name, int minimum, int maximum, QWidget* parent)
{
    auto* spin = Controls::Named(new QSpinBox(parent), name);
    spin->setRange(minimum, maximum);
    // Out of range, or no number at all, becomes the nearest bound when the focus leaves;
    // an empty or unreadable text thus counts as the lower bound.
    spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    spin->setFixedWidth(64);
    return spin;
}

// The port as typed; a text that is no whole number puts the fallback port back into the box.
std::int32_t ReadPort(QLineEdit* edit, std::int32_t fallback = DefaultPort)
{
    std::int32_t port = fallback;
    if (!ParseInteger(edit->text(), port)) {
        edit->setText(QString::number(fallback));
        port = fallback;
    }
    return port;
}

// The fields that both account pages share, read into the record. A security the drop-down
// does not offer (a hand-edited store) stays as the record has it.
void ReadAccountFields(TAccount& account, const QString& name, QLineEdit* host, QLineEdit* port,
                       QLineEdit* user, QLineEdit* password, QCheckBox* include,
                       QComboBox* security, QLineEdit* trustedCertificate)
{
    account.Name = name.toStdString();
    account.Host = host->text().toStdString();
    if (security->currentIndex() >= 0)
        account.Security = security->currentIndex();
    account.Port = ReadPort(port, AccountSecurity::DefaultPortFor(account.Security));
    account.UserId = user->text().toStdString();
    account.Password = password->text().toStdString();
    account.Include = include->isChecked();
    account.TrustedCertificate = trustedCertificate->text().toStdString();
}

// The port of a page after the user chose another security.
void FollowSecurity(QComboBox* security, QLineEdit* port)
{
    std::int32_t value = 0;
    if (security->currentIndex() < 0 || !ParseInteger(port->text(), value))
        return;
    const std::int32_t wanted = AccountSecurity::PortFor(security->currentIndex(), value);
    if (wanted != value)
        port->setText(QString::number(wanted));
}

// Holds back the signals of several controls while a page is filled from the settings.
class TSignalsBlocked
{
public:
    TSignalsBlocked(std::initializer_list<QObject*> objects)
    {
        FBlockers.reserve(objects.size());
        for (QObject* object : objects)
            FBlockers.emplace_back(object);
    }

private:
    std::vector<QSignalBlocker> FBlockers;
};

// The rows of label and edit that both account pages share.
QGridLayout* MakeAccountGrid(QWidget* page, const char* prefix, QLineEdit* name, QLineEdit* host,
                             QLineEdit* port, QLineEdit* user, QLineEdit* password)
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    const QString labels[] = {QStringLiteral("Account Name"), QStringLiteral("POP3 Server"),
                              QStringLiteral("Port"), QStringLiteral("Username"),
                              QStringLiteral("Password")};
    const char* suffixes[] = {"AccountName", "Host", "Port", "UserID", "Password"};
    QLineEdit* edits[] = {name, host, port, user, password};
    for (int row = 0; row < 5; ++row) {
        const QByteArray labelName = QByteArray("lbl") + prefix + suffixes[row];
        QLabel* label = Controls::Label(labelName.constData(), labels[row], page);
        label->setBuddy(edits[row]);
        grid->addWidget(label, row, 0);
        if (edits[row] == port) {
            port->setFixedWidth(64);
            grid->addWidget(port, row, 1, Qt::AlignLeft);
        } else {
            grid->addWidget(edits[row], row, 1);
        }
    }
    grid->setColumnStretch(1, 1);
    return grid;
}

} // namespace

TSettingsForm::TSettingsForm(TKeyStore& store, TDialogs dialogs, TStartupShortcut startupShortcut,
                             QWidget* parent)
    : QDialog(parent)
    , CryptLib(MakeProgramCipher())
    , FStore(store)
    , FDialogs(std::move(dialogs))
    , FStartupShortcut(std::move(startupShortcut))
{
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(QStringLiteral("Mailbeacon 2.0 - Settings"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    for (const char* name : {"accounts", "account", "connection", "notification", "application"})
        ilOptions.append(Icons::OptionImage(name));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    layout->setSpacing(0);
    // A fixed dialog border: the size is the design size, or what the user's fonts need.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* sections = new QHBoxLayout;
    sections->setSpacing(TreeGap);
    tvOptionExplorer = Controls::Named(new QTreeWidget(this), "tvOptionExplorer");
    tvOptionExplorer->setFixedWidth(TreeWidth);
    tvOptionExplorer->setHeaderHidden(true);
    tvOptionExplorer->setColumnCount(1);
    tvOptionExplorer->setRootIsDecorated(false);
    tvOptionExplorer->setItemsExpandable(false);
    tvOptionExplorer->setIndentation(14);
    tvOptionExplorer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvOptionExplorer->setSelectionMode(QAbstractItemView::SingleSelection);
    tvOptionExplorer->setIconSize(QSize(16, 16));
    tvOptionExplorer->setSortingEnabled(true);
    tvOptionExplorer->sortByColumn(0, Qt::AscendingOrder);
    tvOptionExplorer->viewport()->installEventFilter(this);
    sections->addWidget(tvOptionExplorer);

    nbSections = Controls::Named(new QStackedWidget(this), "nbSections");
    nbSections->setMinimumSize(ClientWidth - TreeWidth - TreeGap, ClientHeight - BottomHeight);
    // The pages' handlers act on a configuration: none can run before one is attached.
    nbSections->setEnabled(false);
    sections->addWidget(nbSections, 1);
    layout->addLayout(sections, 1);

    auto* pnlBottom = Controls::Named(new QWidget(this), "pnlBottom");
    pnlBottom->setFixedHeight(BottomHeight);
    auto* bottomLayout = new QVBoxLayout(pnlBottom);
    bottomLayout->setContentsMargins(0, 8, 0, 6);
    bvlBottom = Controls::Bevel("bvlBottom", pnlBottom);
    bottomLayout->addWidget(bvlBottom);
    bottomLayout->addStretch(1);
    btnClose = Controls::FixedButton("btnClose", QStringLiteral("Close"), pnlBottom);
    bottomLayout->addWidget(btnClose, 0, Qt::AlignRight);
    layout->addWidget(pnlBottom);

    CreateNewAccountPage();
    CreateAccountPage();
    CreateApplicationPage();
    CreateConnectionPage();
    CreateNotificationPage();
    ConnectHandlers();
    // Sized now, so that the dialog can be placed before it is first shown.
    layout->activate();
}

TSettingsForm::~TSettingsForm()
{
    if (FSavePending)
        FormCloseQuery();
}

// Every page starts with a title strip: the page's title, centred in bold on the colours of
// an active window caption.
QWidget* TSettingsForm::CreatePage(const char* name, const QString& title, QLabel*& titleLabel)
{
    auto* page = Controls::Named(new QWidget(nbSections), name);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    const QByteArray stripName = QByteArray("pnl") + name + "Title";
    auto* strip = Controls::Named(new QFrame(page), stripName.constData());
    strip->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    strip->setPalette(palette);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(4, 3, 4, 3);
    const QByteArray labelName = QByteArray("lbl") + name + "Title";
    titleLabel = Controls::Label(labelName.constData(), title, strip);
    titleLabel->setAlignment(Qt::AlignCenter);
    QFont font = titleLabel->font();
    font.setPointSize(10);
    font.setBold(true);
    titleLabel->setFont(font);
    stripLayout->addWidget(titleLabel);
    layout->addWidget(strip);

    nbSections->addWidget(page);
    return page;
}

void TSettingsForm::CreateNewAccountPage()
{
    QWidget* page =
        CreatePage("NewAccount", QStringLiteral("N e w   A c c o u n t"), lblNewAccountTitle);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    edtNewAccountName = MakeEdit("edtNewAccountName", page);
    edtNewHost = MakeEdit("edtNewHost", page);
    edtNewPort = MakeEdit("edtNewPort", page);
    edtNewUserID = MakeEdit("edtNewUserID", page);
    edtNewPassword = MakePasswordEdit("edtNewPassword", page);
    QGridLayout* grid = MakeAccountGrid(page, "New", edtNewAccountName, edtNewHost, edtNewPort,
                                        edtNewUserID, edtNewPassword);
    AccountSecurity::AddRows(grid, page, "New", cmbNewSecurity, edtNewTrustedCertificate);
    layout->addLayout(grid);
    cbNewInclude = Controls::Named(new QCheckBox(IncludeText, page), "cbNewInclude");
    layout->addWidget(cbNewInclude);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    btnNewTrustCertificate =
        Controls::Button("btnNewTrustCertificate", tr("Trust this certificate"), page);
    btnSaveNewAccount = Controls::FixedButton("btnSaveNewAccount", QStringLiteral("Save"), page);
    buttons->addWidget(btnNewTrustCertificate);
    buttons->addStretch(1);
    buttons->addWidget(btnSaveNewAccount);
    layout->addLayout(buttons);
    ClearNewAccountPage();
}

void TSettingsForm::CreateAccountPage()
{
    QWidget* page = CreatePage("Account", QString(), lblAccountTitle);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    edtAccountName = MakeEdit("edtAccountName", page);
    edtHost = MakeEdit("edtHost", page);
    edtPort = MakeEdit("edtPort", page);
    edtUserID = MakeEdit("edtUserID", page);
    edtPassword = MakePasswordEdit("edtPassword", page);
    QGridLayout* grid =
        MakeAccountGrid(page, "", edtAccountName, edtHost, edtPort, edtUserID, edtPassword);
    AccountSecurity::AddRows(grid, page, "", cmbSecurity, edtTrustedCertificate);
    layout->addLayout(grid);
    cbInclude = Controls::Named(new QCheckBox(IncludeText, page), "cbInclude");
    layout->addWidget(cbInclude);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    btnTrustCertificate =
        Controls::Button("btnTrustCertificate", tr("Trust this certificate"), page);
    buttons->addWidget(btnTrustCertificate);
    buttons->addStretch(1);
    btnDeleteAccount = Controls::FixedButton("btnDeleteAccount", QStringLiteral("Delete"), page);
    btnSaveAccount = Controls::FixedButton("btnSaveAccount", QStringLiteral("Save"), page);
    buttons->addWidget(btnDeleteAccount);
    buttons->addWidget(btnSaveAccount);
    layout->addLayout(buttons);
}

void TSettingsForm::CreateApplicationPage()
{
    QLabel* title = nullptr;
    QWidget* page = CreatePage("Application", QStringLiteral("A p p l i c a t i o n"), title);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    cbStartup = Controls::Named(new QCheckBox(TStartupShortcut::OptionText(), page), "cbStartup");
    layout->addWidget(cbStartup);

    // The list reads as the start of a sentence that the two labels end.
    auto* trayGrid = new QGridLayout;
    trayGrid->setHorizontalSpacing(8);
    trayGrid->setVerticalSpacing(2);
    cmbTrayIconAction = Controls::Named(new QComboBox(page), "cmbTrayIconAction");
    // Already in sorted order, so each item's index is its option value.
    cmbTrayIconAction->addItems({QStringLiteral("Check mail"), QStringLiteral("Show Mailbeacon"),
                                 QStringLiteral("Start mail client")});
    cmbTrayIconAction->setEditable(false);
    lblDoubleClick =
        Controls::Label("lblDoubleClick", QStringLiteral("when I double click on"), page);
    lblSystemTray =
        Controls::Label("lblSystemTray", QStringLiteral("Mailbeacon's system tray icon"), page);
    trayGrid->addWidget(cmbTrayIconAction, 0, 0);
    trayGrid->addWidget(lblDoubleClick, 0, 1);
    trayGrid->addWidget(lblSystemTray, 1, 1);
    trayGrid->setColumnStretch(2, 1);
    layout->addSpacing(4);
    layout->addLayout(trayGrid);

    layout->addSpacing(8);
    auto* previewGrid = new QGridLayout;
    previewGrid->setHorizontalSpacing(8);
    previewGrid->setVerticalSpacing(4);
    SpinEditMessagePreview = MakeSpinEdit("SpinEditMessagePreview", 1, 100, page);
    SpinEditMessagePreview->setValue(20);
    previewGrid->addWidget(Controls::Label("lblMessagePreview",
                                           QStringLiteral("Message Preview retrieves the first"),
                                           page),
                           0, 0, 1, 3);
    previewGrid->addWidget(SpinEditMessagePreview, 1, 0);
    previewGrid->addWidget(
        Controls::Label("lblMessagePreviewLines", QStringLiteral("lines of the message"), page), 1,
        1);
    previewGrid->setColumnStretch(2, 1);
    layout->addLayout(previewGrid);
    layout->addSpacing(8);

    cbLog = Controls::Named(new QCheckBox(QStringLiteral("Log Mailbeacon's activities"), page),
                            "cbLog");
    layout->addWidget(cbLog);
    layout->addStretch(1);
}

void TSettingsForm::CreateConnectionPage()
{
    QLabel* title = nullptr;
    QWidget* page = CreatePage("Connection", QStringLiteral("C o n n e c t i o n"), title);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, 18);
    rbDialUp = Controls::Named(new QRadioButton(QStringLiteral("Dial-Up"), page), "rbDialUp");
    grid->addWidget(rbDialUp, 0, 0, 1, 2);
    grid->addWidget(
        Controls::Note("lblDialUp",
                       QStringLiteral("Mailbeacon will check for new messages only if you "
                                      "are connected to the Internet.  It will not "
                                      "initiate an Internet connection."),
                       page),
        1, 1);
    rbDirect = Controls::Named(new QRadioButton(QStringLiteral("Direct"), page), "rbDirect");
    grid->addWidget(rbDirect, 2, 0, 1, 2);
    grid->addWidget(
        Controls::Note("lblDirect",
                       QStringLiteral("Mailbeacon assumes you have a permanent connection to "
                                      "the Internet.  Proxy settings can be used to check "
                                      "for the latest version."),
                       page),
        3, 1);
    layout->addLayout(grid);

    cbUseProxy =
        Controls::Named(new QCheckBox(QStringLiteral("Use a proxy server"), page), "cbUseProxy");
    layout->addWidget(cbUseProxy);
    auto* proxyRow = new QHBoxLayout;
    proxyRow->setContentsMargins(22, 0, 0, 0);
    edtProxy = MakeSwitchedEdit("edtProxy", page);
    edtProxyPort = MakeSwitchedEdit("edtProxyPort", page);
    edtProxyPort->setFixedWidth(56);
    QLabel* proxyLabel = Controls::Label("lblProxy", QStringLiteral("Proxy"), page);
    QLabel* portLabel = Controls::Label("lblProxyPort", QStringLiteral("Port"), page);
    proxyLabel->setBuddy(edtProxy);
    portLabel->setBuddy(edtProxyPort);
    proxyRow->addWidget(proxyLabel);
    proxyRow->addWidget(edtProxy, 1);
    proxyRow->addSpacing(6);
    proxyRow->addWidget(portLabel);
    proxyRow->addWidget(edtProxyPort);
    layout->addLayout(proxyRow);
    layout->addStretch(1);
    edtProxy->setEnabled(false);
    edtProxyPort->setEnabled(false);
}

void TSettingsForm::CreateNotificationPage()
{
    QLabel* title = nullptr;
    QWidget* page = CreatePage("Notification", QStringLiteral("N o t i f i c a t i o n"), title);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());

    auto* intervalRow = new QHBoxLayout;
    cbCheckMail = Controls::Named(new QCheckBox(QStringLiteral("Check for messages every"), page),
                                  "cbCheckMail");
    SpinEdit = MakeSpinEdit("SpinEdit", 1, 1440, page);
    intervalRow->addWidget(cbCheckMail);
    intervalRow->addWidget(SpinEdit);
    intervalRow->addWidget(Controls::Label("lblMinutes", QStringLiteral("minute(s)"), page));
    intervalRow->addStretch(1);
    layout->addLayout(intervalRow);
    cbNotifyOnlyWhenNew =
        Controls::Named(new QCheckBox(QStringLiteral("Notify ONLY when NEW messages arrive"), page),
                        "cbNotifyOnlyWhenNew");
    layout->addWidget(cbNotifyOnlyWhenNew);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, 16);
    cbSound = Controls::Named(
        new QCheckBox(QStringLiteral("Play sound when messages arrive"), page), "cbSound");
    grid->addWidget(cbSound, 0, 0, 1, 4);
    QLabel* soundLabel = Controls::Label("lblSound", QStringLiteral("Wave file"), page);
    edtSound = MakeSwitchedEdit("edtSound", page);
    btnSoundBrowse = Controls::FixedButton("btnSoundBrowse", QStringLiteral("Browse"), page);
    soundLabel->setBuddy(edtSound);
    grid->addWidget(soundLabel, 1, 1);
    grid->addWidget(edtSound, 1, 2);
    grid->addWidget(btnSoundBrowse, 1, 3);
    grid->setRowMinimumHeight(2, 6);
    cbStartClient = Controls::Named(
        new QCheckBox(QStringLiteral("Start mail client when messages arrive"), page),
        "cbStartClient");
    grid->addWidget(cbStartClient, 3, 0, 1, 4);
    QLabel* clientLabel = Controls::Label("lblMailClient", QStringLiteral("Mail client"), page);
    edtMailClient = MakeEdit("edtMailClient", page);
    btnMailClientBrowse =
        Controls::FixedButton("btnMailClientBrowse", QStringLiteral("Browse"), page);
    clientLabel->setBuddy(edtMailClient);
    grid->addWidget(clientLabel, 4, 1);
    grid->addWidget(edtMailClient, 4, 2);
    grid->addWidget(btnMailClientBrowse, 4, 3);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    cbDesktopNotification = Controls::Named(new QCheckBox(tr("Show a desktop notification"), page),
                                            "cbDesktopNotification");
    layout->addWidget(cbDesktopNotification);
    layout->addStretch(1);
}

// Handlers follow every change, the user's and the page filling's alike; the filling blocks
// the signals and runs the handlers itself, so each runs exactly once.
void TSettingsForm::ConnectHandlers()
{
    connect(tvOptionExplorer, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { tvOptionExplorerChange(current); });
    connect(btnClose, &QPushButton::clicked, this, &TSettingsForm::btnCloseClick);
    connect(btnSaveNewAccount, &QPushButton::clicked, this, &TSettingsForm::btnSaveNewAccountClick);
    connect(btnSaveAccount, &QPushButton::clicked, this, &TSettingsForm::btnSaveAccountClick);
    connect(btnDeleteAccount, &QPushButton::clicked, this, &TSettingsForm::btnDeleteAccountClick);
    connect(cmbNewSecurity, &QComboBox::currentIndexChanged, this,
            &TSettingsForm::cmbNewSecurityChange);
    connect(cmbSecurity, &QComboBox::currentIndexChanged, this, &TSettingsForm::cmbSecurityChange);
    connect(btnNewTrustCertificate, &QPushButton::clicked, this,
            &TSettingsForm::btnNewTrustCertificateClick);
    connect(btnTrustCertificate, &QPushButton::clicked, this,
            &TSettingsForm::btnTrustCertificateClick);

    connect(cbStartup, &QCheckBox::toggled, this, &TSettingsForm::cbStartupClick);
    connect(cmbTrayIconAction, &QComboBox::currentIndexChanged, this,
            &TSettingsForm::cmbTrayIconActionChange);
    connect(SpinEditMessagePreview, &QSpinBox::valueChanged, this,
            &TSettingsForm::SpinEditMessagePreviewChange);
    connect(cbLog, &QCheckBox::toggled, this, &TSettingsForm::cbLogClick);

    connect(rbDialUp, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            rbDialUpClick();
    });
    connect(rbDirect, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            rbDirectClick();
    });
    connect(cbUseProxy, &QCheckBox::toggled, this, &TSettingsForm::cbUseProxyClick);
    connect(edtProxy, &QLineEdit::textChanged, this, &TSettingsForm::edtProxyChange);
    connect(edtProxyPort, &QLineEdit::textChanged, this, &TSettingsForm::edtProxyPortChange);

    connect(cbCheckMail, &QCheckBox::toggled, this, &TSettingsForm::cbCheckMailClick);
    connect(SpinEdit, &QSpinBox::valueChanged, this, &TSettingsForm::SpinEditChange);
    connect(cbNotifyOnlyWhenNew, &QCheckBox::toggled, this,
            &TSettingsForm::cbNotifyOnlyWhenNewClick);
    connect(cbSound, &QCheckBox::toggled, this, &TSettingsForm::cbSoundClick);
    connect(edtSound, &QLineEdit::textChanged, this, &TSettingsForm::edtSoundChange);
    connect(btnSoundBrowse, &QPushButton::clicked, this, &TSettingsForm::btnSoundBrowseClick);
    connect(cbStartClient, &QCheckBox::toggled, this, &TSettingsForm::cbStartClientClick);
    connect(edtMailClient, &QLineEdit::textChanged, this, &TSettingsForm::edtMailClientChange);
    connect(btnMailClientBrowse, &QPushButton::clicked, this,
            &TSettingsForm::btnMailClientBrowseClick);
    connect(cbDesktopNotification, &QCheckBox::toggled, this,
            &TSettingsForm::cbDesktopNotificationClick);
}

void TSettingsForm::AttachConfiguration(TConfiguration& configuration)
{
    FConfiguration = &configuration;
    FSavePending = true;
    nbSections->setEnabled(true);
    const QSignalBlocker blocker(tvOptionExplorer);
    tvOptionExplorer->clear();
    FCurrentNode = nullptr;
    FAccountsNode = new TOptionNode(AccountsText, ilOptions.value(AccountsImage));
    tvOptionExplorer->addTopLevelItem(FAccountsNode);
    tvOptionExplorer->addTopLevelItem(
        new TOptionNode(ApplicationText, ilOptions.value(ApplicationImage)));
    tvOptionExplorer->addTopLevelItem(
        new TOptionNode(ConnectionText, ilOptions.value(ConnectionImage)));
    tvOptionExplorer->addTopLevelItem(
        new TOptionNode(NotificationText, ilOptions.value(NotificationImage)));
    for (const std::shared_ptr<TAccount>& account : configuration.Accounts)
        AddAccountNode(account);
    FAccountsNode->setExpanded(true);
    tvOptionExplorer->sortByColumn(0, Qt::AscendingOrder);

    QTreeWidgetItem* node = NodeAt(configuration.LastSettingsPage);
    if (node == nullptr)
        node = FAccountsNode;
    tvOptionExplorer->setCurrentItem(node);
    tvOptionExplorerChange(node);
}

TOptionNode* TSettingsForm::AddAccountNode(const std::shared_ptr<TAccount>& account)
{
    auto* node = new TOptionNode(Text(account->Name), ilOptions.value(AccountImage));
    node->Account = account;
    FAccountsNode->addChild(node);
    FAccountsNode->setExpanded(true);
    return node;
}

QString TSettingsForm::ActivePage() const
{
    const QWidget* page = nbSections->currentWidget();
    return page != nullptr ? page->objectName() : QString();
}

bool TSettingsForm::ShowAccount(const QString& name)
{
    for (int index = 0; FAccountsNode != nullptr && index < FAccountsNode->childCount(); ++index) {
        auto* node = static_cast<TOptionNode*>(FAccountsNode->child(index));
        if (node->Account && QString::fromStdString(node->Account->Name) == name) {
            tvOptionExplorer->setCurrentItem(node);
            return true;
        }
    }
    return false;
}

int TSettingsForm::NodePosition(const QTreeWidgetItem* node) const
{
    int position = 0;
    for (QTreeWidgetItemIterator it(tvOptionExplorer); *it != nullptr; ++it, ++position) {
        if (*it == node)
            return position;
    }
    return -1;
}

QTreeWidgetItem* TSettingsForm::NodeAt(int position) const
{
    if (position < 0)
        return nullptr;
    QTreeWidgetItemIterator it(tvOptionExplorer);
    for (; *it != nullptr && position > 0; ++it)
        --position;
    return *it;
}

void TSettingsForm::RememberSelectedPage()
{
    const int position = NodePosition(FCurrentNode);
    if (FConfiguration != nullptr && position >= 0)
        FConfiguration->LastSettingsPage = position;
}

TOptionNode* TSettingsForm::CurrentAccountNode() const
{
    if (FCurrentNode == nullptr || FCurrentNode->parent() != FAccountsNode)
        return nullptr;
    return static_cast<TOptionNode*>(FCurrentNode);
}

void TSettingsForm::tvOptionExplorerChange(QTreeWidgetItem* node)
{
    if (node == FCurrentNode || node == nullptr || FConfiguration == nullptr)
        return;
    if (!LeaveAccountPage()) {
        // The user stays: the selection goes back to the page on show.
        const QSignalBlocker blocker(tvOptionExplorer);
        tvOptionExplorer->setCurrentItem(FCurrentNode);
        return;
    }
    FCurrentNode = node;
    const QString text = node->text(0);
    if (node->parent() == FAccountsNode)
        ShowAccountPage();
    else if (text == AccountsText)
        ShowNewAccountPage();
    else if (text == ApplicationText)
        ShowApplicationPage();
    else if (text == ConnectionText)
        ShowConnectionPage();
    else if (text == NotificationText)
        ShowNotificationPage();
    RememberSelectedPage();
}

void TSettingsForm::tvOptionExplorerMouseDown(Qt::MouseButton button, const QPoint& position)
{
    if (button != Qt::RightButton)
        return;
    if (QTreeWidgetItem* node = tvOptionExplorer->itemAt(position))
        tvOptionExplorer->setCurrentItem(node);
}

void TSettingsForm::showEvent(QShowEvent* event)
{
    FSavePending = FConfiguration != nullptr;
    QDialog::showEvent(event);
}

bool TSettingsForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tvOptionExplorer->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        tvOptionExplorerMouseDown(mouse->button(), mouse->position().toPoint());
    }
    return QDialog::eventFilter(watched, event);
}

void TSettingsForm::ShowPage(const char* name)
{
    if (auto* page =
            nbSections->findChild<QWidget*>(QLatin1String(name), Qt::FindDirectChildrenOnly))
        nbSections->setCurrentWidget(page);
}

void TSettingsForm::ShowNewAccountPage()
{
    lblNewAccountTitle->setText(QStringLiteral("N e w   A c c o u n t"));
    ClearNewAccountPage();
    ShowPage("NewAccount");
}

// A new account starts secure: a password sent in plain text can be read on the way.
void TSettingsForm::ClearNewAccountPage()
{
    edtNewAccountName->clear();
    edtNewHost->clear();
    {
        const QSignalBlocker blocker(cmbNewSecurity);
        cmbNewSecurity->setCurrentIndex(TAccount::SecurityTls);
    }
    edtNewPort->setText(QString::number(DefaultSecurePort));
    edtNewUserID->clear();
    edtNewPassword->clear();
    cbNewInclude->setChecked(true);
    edtNewTrustedCertificate->clear();
}

void TSettingsForm::ShowAccountPage()
{
    const TOptionNode* node = CurrentAccountNode();
    if (node == nullptr)
        return;
    const TAccount& account = *node->Account;
    lblAccountTitle->setText(node->text(0));
    edtAccountName->setText(Text(account.Name));
    edtHost->setText(Text(account.Host));
    edtPort->setText(QString::number(account.Port));
    edtUserID->setText(Text(account.UserId));
    edtPassword->setText(Text(account.Password));
    cbInclude->setChecked(account.Include);
    {
        // A stored value the drop-down does not offer selects nothing and is kept on saving.
        const QSignalBlocker blocker(cmbSecurity);
        const bool known = account.Security >= 0 && account.Security < cmbSecurity->count();
        cmbSecurity->setCurrentIndex(known ? account.Security : -1);
    }
    edtTrustedCertificate->setText(Text(account.TrustedCertificate));
    // A fingerprint is read from its start.
    edtTrustedCertificate->setCursorPosition(0);
    ShowPage("Account");
}

void TSettingsForm::ShowApplicationPage()
{
    const TApplicationSettings& settings = FConfiguration->ApplicationSettings;
    const bool startupWas = cbStartup->isChecked();
    {
        const TSignalsBlocked blocked{cbStartup, cmbTrayIconAction, SpinEditMessagePreview, cbLog};
        cbStartup->setChecked(settings.Startup);
        const bool known =
            settings.DoubleClick >= 0 && settings.DoubleClick < cmbTrayIconAction->count();
        cmbTrayIconAction->setCurrentIndex(known ? settings.DoubleClick : -1);
        SpinEditMessagePreview->setValue(settings.MessagePreview);
        cbLog->setChecked(settings.Log);
    }
    // The box starts unchecked, so a Startup option that is on writes the entry again here.
    if (cbStartup->isChecked() != startupWas)
        cbStartupClick();
    cmbTrayIconActionChange();
    SpinEditMessagePreviewChange();
    cbLogClick();
    ShowPage("Application");
}

void TSettingsForm::ShowConnectionPage()
{
    const TConnection& connection = FConfiguration->Connection;
    {
        const TSignalsBlocked blocked{rbDialUp, rbDirect, cbUseProxy, edtProxy, edtProxyPort};
        // Another connection type checks neither button.
        rbDialUp->setAutoExclusive(false);
        rbDirect->setAutoExclusive(false);
        rbDialUp->setChecked(connection.ConnectionType == TConnection::DialUp);
        rbDirect->setChecked(connection.ConnectionType == TConnection::Direct);
        rbDialUp->setAutoExclusive(true);
        rbDirect->setAutoExclusive(true);
        cbUseProxy->setChecked(connection.UseProxy);
        edtProxy->setText(Text(connection.Proxy));
        edtProxyPort->setText(QString::number(connection.ProxyPort));
    }
    if (rbDialUp->isChecked())
        rbDialUpClick();
    if (rbDirect->isChecked())
        rbDirectClick();
    cbUseProxyClick();
    edtProxyChange();
    edtProxyPortChange();
    UpdateProxyControls();
    ShowPage("Connection");
}

void TSettingsForm::ShowNotificationPage()
{
    const TNotification& notification = FConfiguration->Notification;
    {
        const TSignalsBlocked blocked{cbCheckMail,        SpinEdit,      cbSound,
                                      edtSound,           cbStartClient, edtMailClient,
                                      cbNotifyOnlyWhenNew};
        const QSignalBlocker desktopBlocked(cbDesktopNotification);
        cbCheckMail->setChecked(notification.CheckTimer->Enabled());
        // Whole minutes; the spin edit brings the count within its range.
        const std::uint32_t minutes = notification.CheckTimer->Interval() / MinuteMs;
        SpinEdit->setValue(static_cast<int>(std::min<std::uint32_t>(minutes, 1440)));
        cbSound->setChecked(notification.PlaySound);
        edtSound->setText(Text(notification.Sound));
        cbStartClient->setChecked(notification.StartClient);
        edtMailClient->setText(Text(notification.MailClient));
        cbNotifyOnlyWhenNew->setChecked(notification.NotifyOnlyWhenNew);
        cbDesktopNotification->setChecked(notification.DesktopNotification);
    }
    cbCheckMailClick();
    SpinEditChange();
    cbSoundClick();
    edtSoundChange();
    cbStartClientClick();
    edtMailClientChange();
    cbNotifyOnlyWhenNewClick();
    cbDesktopNotificationClick();
    UpdateIntervalControls();
    UpdateSoundControls();
    ShowPage("Notification");
}

void TSettingsForm::cbCheckMailClick()
{
    FConfiguration->Notification.CheckTimer->SetEnabled(cbCheckMail->isChecked());
    UpdateIntervalControls();
}

// Setting the interval restarts a running timer, so an unchanged interval is left alone: the
// next timed check stays where it was.
// The spin edit's range keeps the count at one minute or more.
void TSettingsForm::SpinEditChange()
{
    const auto interval = static_cast<std::uint32_t>(SpinEdit->value()) * MinuteMs;
    ICheckTimer& timer = *FConfiguration->Notification.CheckTimer;
    if (timer.Interval() != interval)
        timer.SetInterval(interval);
}

void TSettingsForm::cbNotifyOnlyWhenNewClick()
{
    FConfiguration->Notification.NotifyOnlyWhenNew = cbNotifyOnlyWhenNew->isChecked();
}

void TSettingsForm::cbDesktopNotificationClick()
{
    FConfiguration->Notification.DesktopNotification = cbDesktopNotification->isChecked();
}

void TSettingsForm::cbSoundClick()
{
    FConfiguration->Notification.PlaySound = cbSound->isChecked();
    UpdateSoundControls();
}

void TSettingsForm::edtSoundChange()
{
    FConfiguration->Notification.Sound = edtSound->text().toStdString();
}

void TSettingsForm::cbStartClientClick()
{
    FConfiguration->Notification.StartClient = cbStartClient->isChecked();
}

void TSettingsForm::edtMailClientChange()
{
    FConfiguration->Notification.MailClient = edtMailClient->text().toStdString();
}

void TSettingsForm::cbStartupClick()
{
    FConfiguration->ApplicationSettings.Startup = cbStartup->isChecked();
    if (cbStartup->isChecked())
        CreateStartupShortcut();
    else
        DeleteStartupShortcut();
}

// An index outside the list (a stored value the list does not offer) leaves the option alone.
void TSettingsForm::cmbTrayIconActionChange()
{
    const int index = cmbTrayIconAction->currentIndex();
    if (index >= 0)
        FConfiguration->ApplicationSettings.DoubleClick = index;
}

// The spin edit's range keeps the count at one line or more.
void TSettingsForm::SpinEditMessagePreviewChange()
{
    FConfiguration->ApplicationSettings.MessagePreview = SpinEditMessagePreview->value();
}

void TSettingsForm::cbLogClick()
{
    FConfiguration->ApplicationSettings.Log = cbLog->isChecked();
}

void TSettingsForm::rbDialUpClick()
{
    FConfiguration->Connection.ConnectionType = TConnection::DialUp;
    cbUseProxy->setEnabled(false);
    UpdateProxyControls();
}

void TSettingsForm::rbDirectClick()
{
    FConfiguration->Connection.ConnectionType = TConnection::Direct;
    cbUseProxy->setEnabled(true);
    UpdateProxyControls();
}

void TSettingsForm::cbUseProxyClick()
{
    FConfiguration->Connection.UseProxy = cbUseProxy->isChecked();
    UpdateProxyControls();
}

void TSettingsForm::edtProxyChange()
{
    FConfiguration->Connection.Proxy = edtProxy->text().toStdString();
}

void TSettingsForm::edtProxyPortChange()
{
    std::int32_t port = 0;
    if (ParseInteger(edtProxyPort->text(), port)) {
        FConfiguration->Connection.ProxyPort = port;
        return;
    }
    // The text's change comes back here with a number.
    edtProxyPort->setText(QStringLiteral("80"));
    FConfiguration->Connection.ProxyPort = 80;
}

// The proxy is for a direct connection only: its fields are usable when the check box is both
// checked and enabled.
void TSettingsForm::UpdateProxyControls()
{
    const bool usable = cbUseProxy->isChecked() && cbUseProxy->isEnabled();
    edtProxy->setEnabled(usable);
    edtProxyPort->setEnabled(usable);
}

void TSettingsForm::UpdateIntervalControls()
{
    SpinEdit->setEnabled(cbCheckMail->isChecked());
}

// The mail client's edit and Browse button stay usable whatever the check box says.
void TSettingsForm::UpdateSoundControls()
{
    edtSound->setEnabled(cbSound->isChecked());
    btnSoundBrowse->setEnabled(cbSound->isChecked());
}

QString TSettingsForm::BrowseFile(const QString& caption, const QString& filter)
{
    return FDialogs.GetOpenFileName ? FDialogs.GetOpenFileName(this, caption, filter) : QString();
}

void TSettingsForm::btnSoundBrowseClick()
{
    const QString fileName =
        BrowseFile(QStringLiteral("Choose the wave file"), QStringLiteral("Sounds (*.wav)"));
    if (!fileName.isEmpty())
        edtSound->setText(fileName);
}

// Programs carry no extension here, so every file is offered.
void TSettingsForm::btnMailClientBrowseClick()
{
    const QString fileName =
        BrowseFile(QStringLiteral("Choose the mail client"), QStringLiteral("Application (*)"));
    if (!fileName.isEmpty())
        edtMailClient->setText(fileName);
}

bool TSettingsForm::AcceptableName(const QString& name, const TAccount* self)
{
    // The name is the account's key name in the store, where a backslash separates keys.
    if (name.contains(u'\\')) {
        FDialogs.ShowError(this, QStringLiteral("The account name \"%1\" contains a backslash "
                                                "(\\), which an account name cannot hold. "
                                                "Please choose another name.")
                                     .arg(name));
        return false;
    }
    for (const std::shared_ptr<TAccount>& account : FConfiguration->Accounts) {
        if (account.get() == self)
            continue;
        const QString other = Text(account->Name);
        if (QString::compare(other, name, Qt::CaseInsensitive) == 0) {
            FDialogs.ShowError(this, QStringLiteral("There is already an account named \"%1\". "
                                                    "Please choose another name.")
                                         .arg(other));
            return false;
        }
    }
    return true;
}

bool TSettingsForm::StoreAccount(const TAccount& account, const std::string& previousName)
{
    try {
        SaveAccount(FStore, CryptLib, account, previousName);
        return true;
    } catch (const std::exception& error) {
        FDialogs.ShowError(this, QStringLiteral("The account \"%1\" could not be saved: %2")
                                     .arg(Text(account.Name), Text(error.what())));
        return false;
    }
}

bool TSettingsForm::NamePresent(const QString& name)
{
    if (!name.isEmpty())
        return true;
    FDialogs.ShowError(this, QStringLiteral("The account needs a name: please enter one under "
                                            "\"Account Name\"."));
    return false;
}

bool TSettingsForm::AccountPageChanged() const
{
    if (FConfiguration == nullptr || FCurrentNode == nullptr)
        return false;
    if (FCurrentNode == FAccountsNode) {
        return !edtNewAccountName->text().isEmpty() || !edtNewHost->text().isEmpty() ||
               edtNewPort->text().trimmed() != QString::number(DefaultSecurePort) ||
               !edtNewUserID->text().isEmpty() || !edtNewPassword->text().isEmpty() ||
               !cbNewInclude->isChecked() ||
               cmbNewSecurity->currentIndex() != TAccount::SecurityTls ||
               !edtNewTrustedCertificate->text().trimmed().isEmpty();
    }
    const TOptionNode* node = CurrentAccountNode();
    if (node == nullptr)
        return false;
    const TAccount& account = *node->Account;
    std::int32_t port = 0;
    return edtAccountName->text() != Text(account.Name) || edtHost->text() != Text(account.Host) ||
           !ParseInteger(edtPort->text(), port) || port != account.Port ||
           edtUserID->text() != Text(account.UserId) ||
           edtPassword->text() != Text(account.Password) ||
           cbInclude->isChecked() != account.Include ||
           // A stored security the drop-down does not offer shows as no choice and is kept.
           (cmbSecurity->currentIndex() != -1 && cmbSecurity->currentIndex() != account.Security) ||
           FingerprintChanged(edtTrustedCertificate->text(), account.TrustedCertificate);
}

bool TSettingsForm::LeaveAccountPage()
{
    if (!AccountPageChanged())
        return true;
    const bool isNew = FCurrentNode == FAccountsNode;
    const QString name = isNew ? edtNewAccountName->text() : FCurrentNode->text(0);
    const QString question = name.isEmpty()
                                 ? QStringLiteral("Save the new account?")
                                 : QStringLiteral("Save the changes to account %1?").arg(name);
    switch (FDialogs.AskSave ? FDialogs.AskSave(this, question) : TSaveAnswer::Discard) {
    case TSaveAnswer::Save:
        return isNew ? SaveNewAccount() : SaveChangedAccount();
    case TSaveAnswer::Discard:
        return true;
    case TSaveAnswer::Cancel:
        break;
    }
    return false;
}

void TSettingsForm::btnSaveNewAccountClick()
{
    SaveNewAccount();
}

// The record joins the accounts only once the store holds it; a refused or failed save keeps
// what was typed for another try.
bool TSettingsForm::SaveNewAccount()
{
    const QString name = edtNewAccountName->text();
    if (!NamePresent(name) || !AcceptableName(name, nullptr) ||
        !AcceptableFingerprint(edtNewTrustedCertificate))
        return false;
    auto account = std::make_shared<TAccount>();
    ReadAccountFields(*account, name, edtNewHost, edtNewPort, edtNewUserID, edtNewPassword,
                      cbNewInclude, cmbNewSecurity, edtNewTrustedCertificate);
    if (!StoreAccount(*account, {}))
        return false;
    FConfiguration->Accounts.push_back(account);
    {
        // The selection stays on the accounts' node, whose page is cleared below.
        const QSignalBlocker blocker(tvOptionExplorer);
        AddAccountNode(account);
    }
    RememberSelectedPage();
    ClearNewAccountPage();
    return true;
}

void TSettingsForm::btnSaveAccountClick()
{
    SaveChangedAccount();
}

// The record is changed in place: the rows of the message list refer to it and use the saved
// values at once, while an operation under way works on the copy it took when it started.
bool TSettingsForm::SaveChangedAccount()
{
    TOptionNode* node = CurrentAccountNode();
    if (node == nullptr)
        return false;
    const QString name = edtAccountName->text();
    if (!NamePresent(name) || !AcceptableName(name, node->Account.get()) ||
        !AcceptableFingerprint(edtTrustedCertificate))
        return false;
    TAccount edited = *node->Account;
    ReadAccountFields(edited, name, edtHost, edtPort, edtUserID, edtPassword, cbInclude,
                      cmbSecurity, edtTrustedCertificate);
    if (!StoreAccount(edited, node->Account->Name))
        return false;
    *node->Account = edited;
    TAccountList& accounts = FConfiguration->Accounts;
    if (std::find(accounts.begin(), accounts.end(), node->Account) == accounts.end())
        accounts.push_back(node->Account);
    lblAccountTitle->setText(name);
    node->setText(0, name);
    // The tree sorts the new name into place; the next opening finds the account there.
    RememberSelectedPage();
    return true;
}

void TSettingsForm::btnDeleteAccountClick()
{
    TOptionNode* node = CurrentAccountNode();
    if (node == nullptr)
        return;
    const std::shared_ptr<TAccount> account = node->Account;
    try {
        RemoveAccount(FStore, account->Name);
    } catch (const std::exception& error) {
        FDialogs.ShowError(this, QStringLiteral("The account \"%1\" could not be deleted: %2")
                                     .arg(Text(account->Name), Text(error.what())));
        return;
    }
    TAccountList& accounts = FConfiguration->Accounts;
    accounts.erase(std::remove(accounts.begin(), accounts.end(), account), accounts.end());
    // The next account takes the selection, else the one before, else the accounts' node.
    const int index = FAccountsNode->indexOfChild(node);
    QTreeWidgetItem* next = FAccountsNode->child(index + 1);
    if (next == nullptr)
        next = FAccountsNode->child(index - 1);
    if (next == nullptr)
        next = FAccountsNode;
    // The page of an account that is gone has nothing left to save.
    FCurrentNode = nullptr;
    tvOptionExplorer->setCurrentItem(next);
    delete node;
    RememberSelectedPage();
}

void TSettingsForm::cmbNewSecurityChange()
{
    FollowSecurity(cmbNewSecurity, edtNewPort);
}

void TSettingsForm::cmbSecurityChange()
{
    FollowSecurity(cmbSecurity, edtPort);
}

bool TSettingsForm::AcceptableFingerprint(QLineEdit* edit)
{
    const QString text = edit->text().trimmed();
    if (text.isEmpty()) {
        edit->clear();
        return true;
    }
    const std::string fingerprint = NormalizeFingerprint(text.toStdString());
    if (fingerprint.empty()) {
        FDialogs.ShowError(this, tr("The trusted certificate \"%1\" is not a SHA-256 "
                                    "fingerprint. It has 64 hexadecimal digits, usually in "
                                    "pairs joined by colons (AB:CD:...), as the error message "
                                    "of a failed check shows it.")
                                     .arg(text));
        return false;
    }
    edit->setText(Text(fingerprint));
    return true;
}

void TSettingsForm::btnNewTrustCertificateClick()
{
    TrustCertificate(edtNewHost, edtNewPort, cmbNewSecurity, edtNewTrustedCertificate,
                     btnNewTrustCertificate);
}

void TSettingsForm::btnTrustCertificateClick()
{
    TrustCertificate(edtHost, edtPort, cmbSecurity, edtTrustedCertificate, btnTrustCertificate);
}

// The fetch runs on a thread of its own: a slow or silent server never freezes the dialog.
void TSettingsForm::TrustCertificate(QLineEdit* host, QLineEdit* port, QComboBox* security,
                                     QLineEdit* trustedCertificate, QPushButton* button)
{
    TAccount account;
    account.Host = host->text().trimmed().toStdString();
    account.Security = security->currentIndex() >= 0 ? security->currentIndex()
                                                     : static_cast<int>(TAccount::SecurityTls);
    account.Port = ReadPort(port, AccountSecurity::DefaultPortFor(account.Security));
    if (account.Host.empty()) {
        FDialogs.ShowError(this, tr("Enter the POP3 server first: the certificate is fetched "
                                    "from there."));
        return;
    }
    if (account.Security == TAccount::SecurityNone) {
        FDialogs.ShowError(this, tr("Choose STARTTLS or SSL/TLS first: a connection without "
                                    "security has no certificate to trust."));
        return;
    }
    const QString hostText = Text(account.Host);
    const std::int32_t portNumber = account.Port;
    auto* fetch = new TCertificateFetch(account, CertificateFetchTimeout, this);
    const QString caption = button->text();
    button->setEnabled(false);
    button->setText(tr("Fetching..."));
    connect(fetch, &QThread::finished, button, [button, caption] {
        button->setText(caption);
        button->setEnabled(true);
    });
    connect(fetch, &TCertificateFetch::Fetched, this,
            [this, hostText, portNumber, trustedCertificate](const TPeerCertificate& certificate) {
                const QString question =
                    AccountSecurity::TrustQuestion(hostText, portNumber, certificate);
                if (FDialogs.AskYesNo && FDialogs.AskYesNo(this, question))
                    trustedCertificate->setText(Text(certificate.Fingerprint));
            });
    connect(fetch, &TCertificateFetch::Failed, this, [this, hostText](const QString& reason) {
        FDialogs.ShowError(
            this, tr("The certificate of %1 could not be fetched:\n%2").arg(hostText, reason));
    });
    fetch->start();
}

void TSettingsForm::btnCloseClick()
{
    close();
}

// Every way of closing a dialog (Close, the title bar, Escape) ends here; the user may stay to
// go on with an account page.
void TSettingsForm::done(int result)
{
    if (!LeaveAccountPage())
        return;
    FormCloseQuery();
    QDialog::done(result);
}

void TSettingsForm::FormCloseQuery()
{
    FSavePending = false;
    if (FConfiguration == nullptr)
        return;
    try {
        SaveSettings(FStore, *FConfiguration);
    } catch (const std::exception& error) {
        FDialogs.ShowError(isVisible() ? this : nullptr,
                           QStringLiteral("The options could not be saved: %1. They stay in "
                                          "effect until Mailbeacon ends.")
                               .arg(Text(error.what())));
    }
}

void TSettingsForm::CreateStartupShortcut()
{
    ShowStartupFailure(FStartupShortcut.Create(), QStringLiteral("written"));
}

void TSettingsForm::DeleteStartupShortcut()
{
    ShowStartupFailure(FStartupShortcut.Delete(), QStringLiteral("removed"));
}

void TSettingsForm::ShowStartupFailure(const QString& failure, const QString& action)
{
    if (!failure.isEmpty()) {
        FDialogs.ShowError(this, QStringLiteral("The start-up entry \"%1\" could not be %2: %3.")
                                     .arg(FStartupShortcut.FileName(), action, failure));
    }
}
