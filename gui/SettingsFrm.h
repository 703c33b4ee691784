#pragma once

#include "config/PassCrypt.h"
#include "desktop/StartupShortcut.h"
#include "gui/Dialogs.h"

#include <QDialog>
#include <QIcon>
#include <QList>

#include <cstdint>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TKeyStore;
class TOptionNode;
struct TAccount;
struct TConfiguration;

// The settings dialog: edits the accounts and options of the main window's configuration in
// place. Options act at once and are written when the dialog closes; an account is written
// when its Save button is pressed and removed when its Delete button is pressed.
class TSettingsForm : public QDialog
{
    Q_OBJECT

public:
    TSettingsForm(TKeyStore& store, TDialogs dialogs,
                  TStartupShortcut startupShortcut = TStartupShortcut(), QWidget* parent = nullptr);
    // A dialog that was never closed (its modal loop ended with the program) still writes the
    // options.
    ~TSettingsForm() override;

    // Keeps a reference to the configuration, builds the tree and shows the page last shown.
    void AttachConfiguration(TConfiguration& configuration);
    // The name of the notebook page on show: "NewAccount", "Account", "Application",
    // "Connection" or "Notification".
    QString ActivePage() const;
    // Shows the page of the account of that name; false, with the page unchanged, when there
    // is none.
    bool ShowAccount(const QString& name);

    // Handlers, public so that tests reach them.
    void tvOptionExplorerChange(QTreeWidgetItem* node);
    void tvOptionExplorerMouseDown(Qt::MouseButton button, const QPoint& position);
    void ShowNewAccountPage();
    void ShowAccountPage();
    void ShowApplicationPage();
    void ShowConnectionPage();
    void ShowNotificationPage();

    void cbCheckMailClick();
    void SpinEditChange();
    void cbNotifyOnlyWhenNewClick();
    void cbDesktopNotificationClick();
    void cbSoundClick();
    void edtSoundChange();
    void cbStartClientClick();
    void edtMailClientChange();
    void cbStartupClick();
    void cmbTrayIconActionChange();
    void SpinEditMessagePreviewChange();
    void cbLogClick();
    void rbDialUpClick();
    void rbDirectClick();
    void cbUseProxyClick();
    void edtProxyChange();
    void edtProxyPortChange();
    void UpdateProxyControls();
    void UpdateIntervalControls();
    void UpdateSoundControls();

    void btnSoundBrowseClick();
    void btnMailClientBrowseClick();
    void btnSaveNewAccountClick();
    void btnSaveAccountClick();
    void btnDeleteAccountClick();
    // The port follows a security choice (see AccountSecurity::PortFor).
    void cmbNewSecurityChange();
    void cmbSecurityChange();
    // The "Trust this certificate" step: fetches the certificate of the page's server, shows
    // it, and fills the trusted certificate field when the user trusts it.
    void btnNewTrustCertificateClick();
    void btnTrustCertificateClick();
    void btnCloseClick();

    void CreateStartupShortcut();
    void DeleteStartupShortcut();

    TCryptLib CryptLib;
    // 0 the accounts, 1 one account, 2 connection, 3 notification, 4 application.
    QList<QIcon> ilOptions;

    QTreeWidget* tvOptionExplorer;
    QStackedWidget* nbSections;
    QFrame* bvlBottom;
    QPushButton* btnClose;

    QLabel* lblNewAccountTitle;
    QLineEdit* edtNewAccountName;
    QLineEdit* edtNewHost;
    QLineEdit* edtNewPort;
    QLineEdit* edtNewUserID;
    QLineEdit* edtNewPassword;
    QCheckBox* cbNewInclude;
    QPushButton* btnSaveNewAccount;
    QComboBox* cmbNewSecurity;
    QLineEdit* edtNewTrustedCertificate;
    QPushButton* btnNewTrustCertificate;

    QLabel* lblAccountTitle;
    QLineEdit* edtAccountName;
    QLineEdit* edtHost;
    QLineEdit* edtPort;
    QLineEdit* edtUserID;
    QLineEdit* edtPassword;
    QCheckBox* cbInclude;
    QPushButton* btnSaveAccount;
    QPushButton* btnDeleteAccount;
    QComboBox* cmbSecurity;
    QLineEdit* edtTrustedCertificate;
    QPushButton* btnTrustCertificate;
    // Longest wait of the "Trust this certificate" step for the server, in milliseconds.
    int CertificateFetchTimeout = 30000;

    QCheckBox* cbStartup;
    QComboBox* cmbTrayIconAction;
    QLabel* lblDoubleClick;
    QLabel* lblSystemTray;
    QSpinBox* SpinEditMessagePreview;
    QCheckBox* cbLog;

    QRadioButton* rbDialUp;
    QRadioButton* rbDirect;
    QCheckBox* cbUseProxy;
    QLineEdit* edtProxy;
    QLineEdit* edtProxyPort;

    QCheckBox* cbCheckMail;
    QSpinBox* SpinEdit;
    QCheckBox* cbNotifyOnlyWhenNew;
    QCheckBox* cbSound;
    QLineEdit* edtSound;
    QPushButton* btnSoundBrowse;
    QCheckBox* cbStartClient;
    QLineEdit* edtMailClient;
    QPushButton* btnMailClientBrowse;
    QCheckBox* cbDesktopNotification;

public Q_SLOTS:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* CreatePage(const char* name, const QString& title, QLabel*& titleLabel);
    void CreateNewAccountPage();
    void CreateAccountPage();
    void CreateApplicationPage();
    void CreateConnectionPage();
    void CreateNotificationPage();
    void ConnectHandlers();
    void ShowPage(const char* name);
    void ClearNewAccountPage();
    // False, after saying what is missing, for an empty account name.
    bool NamePresent(const QString& name);
    // The account page on show (either one) holds typed values that are not saved.
    bool AccountPageChanged() const;
    // Before the account page on show is left: asks whether to save what was typed there. False
    // when the user stays on the page (Cancel, or a save that could not be done).
    bool LeaveAccountPage();
    // The two Save buttons; false when nothing was saved.
    bool SaveNewAccount();
    bool SaveChangedAccount();

    // Writes every option; a failure is shown, never thrown.
    void FormCloseQuery();
    TOptionNode* AddAccountNode(const std::shared_ptr<TAccount>& account);
    TOptionNode* CurrentAccountNode() const;
    // Position of the node counting from 0 over all nodes top to bottom; -1 for none.
    int NodePosition(const QTreeWidgetItem* node) const;
    QTreeWidgetItem* NodeAt(int position) const;
    void RememberSelectedPage();
    // False, after saying why, for a name with a backslash or one that another account
    // already has; self is the account being renamed, if any.
    bool AcceptableName(const QString& name, const TAccount* self);
    // Writes the account under its name, removing the sub-key of previousName first; false,
    // after showing the error, when the store or the cipher failed.
    bool StoreAccount(const TAccount& account, const std::string& previousName);
    // False, after saying why, when the field holds text that is no SHA-256 fingerprint; else
    // the field shows the fingerprint in its colon form.
    bool AcceptableFingerprint(QLineEdit* edit);
    void TrustCertificate(QLineEdit* host, QLineEdit* port, QComboBox* security,
                          QLineEdit* trustedCertificate, QPushButton* button);
    // Shows a failure text of the start-up entry, if there is one; action is what was tried.
    void ShowStartupFailure(const QString& failure, const QString& action);
    QString BrowseFile(const QString& caption, const QString& filter);

    TKeyStore& FStore;
    TDialogs FDialogs;
    TStartupShortcut FStartupShortcut;
    TConfiguration* FConfiguration = nullptr;
    QTreeWidgetItem* FCurrentNode = nullptr;
    QTreeWidgetItem* FAccountsNode = nullptr;
    bool FSavePending = false;
};
