#include "gui/SettingsFrm.h"

#include "config/Data.h"
#include "config/FileKeyStore.h"
#include "gui/CheckTimer.h"
#include "gui/MainFrm.h"
#include "mail/MailSession.h"
#include "tests/support/FakeConnectionProbes.h"
#include "tests/support/PopServers.h"
#include "tests/support/SampleServerThread.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/ui/UiSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const std::string Accounts = StoreKeys::Accounts;
const std::string Settings = StoreKeys::Settings;

std::string AccountKey(const std::string& name)
{
    return Accounts + "\\" + name;
}

class TSettingsFormTest : public ::testing::Test
{
protected:
    TSettingsFormTest()
        : FStore(std::make_unique<TFileKeyStore>(FDir.File("store.reg")))
        , FStartupShortcut(QString::fromStdString(FDir.File("autostart")),
                           QStringLiteral("/opt/Mail Beacon/bin/mailbeacon"))
    {}

    std::unique_ptr<TSettingsForm> Open()
    {
        auto form = std::make_unique<TSettingsForm>(*FStore, FDialogs.Make(), FStartupShortcut);
        form->AttachConfiguration(FConfiguration);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }

    // An account as the main window loads it: in the store and in the list.
    std::shared_ptr<TAccount> AddStoredAccount(const std::string& name)
    {
        auto account = std::make_shared<TAccount>();
        account->Name = name;
        account->Host = "pop." + name + ".example";
        account->UserId = "user";
        account->Password = "secret";
        TCryptLib cipher = MakeProgramCipher();
        SaveAccount(*FStore, cipher, *account, {});
        FConfiguration.Accounts.push_back(account);
        return account;
    }

    static QTreeWidgetItem* Node(TSettingsForm& form, const QString& text)
    {
        for (QTreeWidgetItemIterator it(form.tvOptionExplorer); *it != nullptr; ++it) {
            if ((*it)->text(0) == text)
                return *it;
        }
        return nullptr;
    }

    static void Select(TSettingsForm& form, const QString& text)
    {
        QTreeWidgetItem* node = Node(form, text);
        ASSERT_NE(node, nullptr) << text.toStdString();
        form.tvOptionExplorer->setCurrentItem(node);
    }

    static QStringList TreeTexts(TSettingsForm& form)
    {
        QStringList texts;
        for (QTreeWidgetItemIterator it(form.tvOptionExplorer); *it != nullptr; ++it)
            texts.append((*it)->text(0));
        return texts;
    }

    static void Retype(QLineEdit* edit, const QString& text)
    {
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        else
            QTest::keyClicks(edit, text);
    }

    // Near the left edge: a check box or radio button answers only on its box and its text.
    static void Click(QWidget* widget)
    {
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2));
    }

    // What a second copy of the program would read from the store file.
    std::vector<std::string> StoredAccountNames() const
    {
        TFileKeyStore store(FDir.File("store.reg"));
        return store.GetKeyNames(Accounts);
    }

    TTempDir FDir;
    std::unique_ptr<TFileKeyStore> FStore;
    TScriptedDialogs FDialogs;
    TConfiguration FConfiguration;
    TStartupShortcut FStartupShortcut;
};

// Opening and the page last shown

TEST_F(TSettingsFormTest, FirstOpeningShowsNewAccountPageAndReopeningTheLastPage)
{
    AddStoredAccount("beta");
    AddStoredAccount("Alpha");
    auto form = Open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Mailbeacon 2.0 - Settings"));
    EXPECT_EQ(TreeTexts(*form), (QStringList{"Accounts", "Alpha", "beta", "Application",
                                             "Connection", "Notification"}));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("NewAccount"));
    EXPECT_EQ(form->lblNewAccountTitle->text(), QStringLiteral("N e w   A c c o u n t"));
    // A new account starts secure.
    EXPECT_EQ(form->cmbNewSecurity->currentText(), QStringLiteral("SSL/TLS"));
    EXPECT_EQ(form->edtNewPort->text(), QStringLiteral("995"));
    EXPECT_TRUE(form->cbNewInclude->isChecked());
    EXPECT_EQ(form->edtNewPassword->echoMode(), QLineEdit::Password);

    Select(*form, QStringLiteral("Notification"));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Notification"));
    EXPECT_EQ(FConfiguration.LastSettingsPage, 5);
    Select(*form, QStringLiteral("beta"));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Account"));
    EXPECT_EQ(form->lblAccountTitle->text(), QStringLiteral("beta"));
    EXPECT_EQ(form->edtHost->text(), QStringLiteral("pop.beta.example"));
    EXPECT_EQ(FConfiguration.LastSettingsPage, 2);
    Click(form->btnClose);
    EXPECT_FALSE(form->isVisible());

    auto again = Open();
    EXPECT_EQ(again->ActivePage(), QStringLiteral("Account"));
    EXPECT_EQ(again->tvOptionExplorer->currentItem()->text(0), QStringLiteral("beta"));
}

TEST_F(TSettingsFormTest, RightButtonSelectsTheNodeUnderTheMouse)
{
    auto form = Open();
    QTreeWidgetItem* node = Node(*form, QStringLiteral("Connection"));
    const QPoint centre = form->tvOptionExplorer->visualItemRect(node).center();
    QTest::mouseClick(form->tvOptionExplorer->viewport(), Qt::RightButton, {}, centre);
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Connection"));
}

// Accounts

TEST_F(TSettingsFormTest, NewAccountWithOnlyANameIsStoredWithDefaults)
{
    auto form = Open();
    QTest::keyClicks(form->edtNewAccountName, QStringLiteral("Home"));
    Retype(form->edtNewPort, QStringLiteral("abc"));
    Click(form->cbNewInclude);
    Click(form->btnSaveNewAccount);

    ASSERT_EQ(StoredAccountNames(), std::vector<std::string>{"Home"});
    TFileKeyStore stored(FDir.File("store.reg"));
    // A port that is no number falls back to the one of the security chosen.
    EXPECT_EQ(stored.ReadInteger(AccountKey("Home"), "Port"), 995);
    EXPECT_EQ(stored.ReadInteger(AccountKey("Home"), "Security"), TAccount::SecurityTls);
    EXPECT_FALSE(stored.ValueExists(AccountKey("Home"), "TrustedCertificate"));
    EXPECT_EQ(stored.ReadInteger(AccountKey("Home"), "Include"), 0);
    EXPECT_EQ(stored.ReadString(AccountKey("Home"), "Host"), "");
    EXPECT_EQ(stored.ReadString(AccountKey("Home"), "UserId"), "");
    EXPECT_EQ(stored.ReadString(AccountKey("Home"), "Password"), "");

    ASSERT_EQ(FConfiguration.Accounts.size(), 1u);
    EXPECT_EQ(FConfiguration.Accounts[0]->Port, 995);
    EXPECT_FALSE(FConfiguration.Accounts[0]->Include);
    EXPECT_EQ(TreeTexts(*form).mid(0, 2), (QStringList{"Accounts", "Home"}));
    EXPECT_EQ(form->tvOptionExplorer->currentItem()->text(0), QStringLiteral("Accounts"));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("NewAccount"));
    // Ready for the next account.
    EXPECT_TRUE(form->edtNewAccountName->text().isEmpty());
    EXPECT_EQ(form->edtNewPort->text(), QStringLiteral("995"));
    EXPECT_TRUE(form->cbNewInclude->isChecked());
    EXPECT_TRUE(FDialogs.Errors.isEmpty());
}

TEST_F(TSettingsFormTest, RefusedNamesWriteNothingAndKeepWhatWasTyped)
{
    AddStoredAccount("Home");
    auto form = Open();

    // Before, an empty name was ignored without a word: the Save button seemed broken.
    QTest::keyClicks(form->edtNewHost, QStringLiteral("pop.example.org"));
    Click(form->btnSaveNewAccount);
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_EQ(FDialogs.Errors[0], QStringLiteral("The account needs a name: please enter one under "
                                                 "\"Account Name\"."));

    QTest::keyClicks(form->edtNewAccountName, QStringLiteral("HOME"));
    Click(form->btnSaveNewAccount);
    ASSERT_EQ(FDialogs.Errors.size(), 2);
    EXPECT_TRUE(FDialogs.Errors[1].contains(QStringLiteral("already an account named \"Home\"")))
        << FDialogs.Errors[1].toStdString();

    Retype(form->edtNewAccountName, QStringLiteral("Work\\Old"));
    Click(form->btnSaveNewAccount);
    ASSERT_EQ(FDialogs.Errors.size(), 3);
    EXPECT_TRUE(FDialogs.Errors[2].contains(QStringLiteral("backslash")));

    EXPECT_EQ(StoredAccountNames(), std::vector<std::string>{"Home"});
    EXPECT_EQ(FConfiguration.Accounts.size(), 1u);
    EXPECT_EQ(form->edtNewAccountName->text(), QStringLiteral("Work\\Old"));
    EXPECT_EQ(form->edtNewHost->text(), QStringLiteral("pop.example.org"));

    // An account may take another spelling of its own name.
    FDialogs.SaveAnswer = TSaveAnswer::Discard;
    Select(*form, QStringLiteral("Home"));
    Retype(form->edtAccountName, QStringLiteral("HOME"));
    Click(form->btnSaveAccount);
    EXPECT_EQ(FDialogs.Errors.size(), 3);
    EXPECT_EQ(StoredAccountNames(), std::vector<std::string>{"HOME"});
}

TEST_F(TSettingsFormTest, RenamingLeavesOneSubKeyAndARunningCheckKeepsItsCopy)
{
    const std::shared_ptr<TAccount> held = AddStoredAccount("Alpha");
    const TAccountSnapshot running = SnapshotOf(held);
    AddStoredAccount("Mike");
    auto form = Open();
    Select(*form, QStringLiteral("Alpha"));
    Retype(form->edtAccountName, QStringLiteral("Zulu"));
    Retype(form->edtPort, QStringLiteral("abc"));
    Retype(form->edtPassword, QStringLiteral("new secret"));
    Click(form->btnSaveAccount);

    EXPECT_EQ(StoredAccountNames(), (std::vector<std::string>{"Mike", "Zulu"}));
    EXPECT_EQ(form->edtPort->text(), QStringLiteral("110"));
    TFileKeyStore stored(FDir.File("store.reg"));
    EXPECT_EQ(stored.ReadString(AccountKey("Zulu"), "Host"), "pop.Alpha.example");
    TCryptLib cipher = MakeProgramCipher();
    EXPECT_EQ(cipher.DecryptString(stored.ReadString(AccountKey("Zulu"), "Password")),
              "new secret");

    EXPECT_EQ(TreeTexts(*form).mid(0, 3), (QStringList{"Accounts", "Mike", "Zulu"}));
    EXPECT_EQ(form->lblAccountTitle->text(), QStringLiteral("Zulu"));
    EXPECT_EQ(form->tvOptionExplorer->currentItem()->text(0), QStringLiteral("Zulu"));
    EXPECT_EQ(FConfiguration.LastSettingsPage, 2);
    ASSERT_EQ(FConfiguration.Accounts.size(), 2u);
    EXPECT_EQ(FConfiguration.Accounts[0]->Name, "Zulu");
    EXPECT_EQ(FConfiguration.Accounts[0]->Password, "new secret");
    // Before, the saved values went into a new record and the rows listed earlier kept using
    // the old host and password until the next check. The rows' record is the account's now;
    // an operation under way keeps the copy it took.
    EXPECT_EQ(FConfiguration.Accounts[0], held);
    EXPECT_EQ(held->Password, "new secret");
    EXPECT_EQ(running.Data.Name, "Alpha");
    EXPECT_EQ(running.Data.Password, "secret");
}

// Before, changes typed on an account page were dropped without a word when the user clicked
// another page, while the other pages applied theirs at once.
TEST_F(TSettingsFormTest, LeavingAChangedAccountPageAsksWhatToDoWithTheChanges)
{
    const std::shared_ptr<TAccount> alpha = AddStoredAccount("Alpha");
    auto form = Open();
    Select(*form, QStringLiteral("Alpha"));
    Select(*form, QStringLiteral("Notification"));
    EXPECT_TRUE(FDialogs.SaveQuestions.isEmpty()) << "nothing changed, nothing asked";

    Select(*form, QStringLiteral("Alpha"));
    Retype(form->edtHost, QStringLiteral("pop.corrected.example"));
    FDialogs.SaveAnswer = TSaveAnswer::Cancel;
    Select(*form, QStringLiteral("Connection"));
    EXPECT_EQ(FDialogs.SaveQuestions, QStringList{"Save the changes to account Alpha?"});
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Account"));
    EXPECT_EQ(form->tvOptionExplorer->currentItem()->text(0), QStringLiteral("Alpha"));
    EXPECT_EQ(form->edtHost->text(), QStringLiteral("pop.corrected.example"));

    FDialogs.SaveAnswer = TSaveAnswer::Discard;
    Select(*form, QStringLiteral("Connection"));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Connection"));
    EXPECT_EQ(alpha->Host, "pop.Alpha.example");

    Select(*form, QStringLiteral("Alpha"));
    Retype(form->edtHost, QStringLiteral("pop.corrected.example"));
    FDialogs.SaveAnswer = TSaveAnswer::Save;
    Select(*form, QStringLiteral("Accounts"));
    EXPECT_EQ(alpha->Host, "pop.corrected.example");
    EXPECT_EQ(TFileKeyStore(FDir.File("store.reg")).ReadString(AccountKey("Alpha"), "Host"),
              "pop.corrected.example");

    // The new-account page too, named by what was typed; a save that cannot be done stays.
    QTest::keyClicks(form->edtNewHost, QStringLiteral("pop.example.org"));
    Select(*form, QStringLiteral("Alpha"));
    EXPECT_EQ(FDialogs.SaveQuestions.last(), QStringLiteral("Save the new account?"));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("NewAccount")) << "no name to save it under";
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    QTest::keyClicks(form->edtNewAccountName, QStringLiteral("Work"));
    Select(*form, QStringLiteral("Alpha"));
    EXPECT_EQ(FDialogs.SaveQuestions.last(), QStringLiteral("Save the changes to account Work?"));
    EXPECT_EQ(StoredAccountNames(), (std::vector<std::string>{"Alpha", "Work"}));
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Account"));
}

TEST_F(TSettingsFormTest, ClosingWithAChangedAccountPageAsksFirst)
{
    AddStoredAccount("Alpha");
    FConfiguration.LastSettingsPage = 1;
    auto form = Open();
    Retype(form->edtUserID, QStringLiteral("someone"));

    FDialogs.SaveAnswer = TSaveAnswer::Cancel;
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_TRUE(form->isVisible()) << "Cancel stays";
    Click(form->btnClose);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(FDialogs.SaveQuestions.size(), 2);

    FDialogs.SaveAnswer = TSaveAnswer::Save;
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(TFileKeyStore(FDir.File("store.reg")).ReadString(AccountKey("Alpha"), "UserId"),
              "someone");
    EXPECT_EQ(FConfiguration.Accounts[0]->UserId, "someone");
}

// Before: "retreives", "Mailbeacon assume" and a start-up option that named Windows.
TEST_F(TSettingsFormTest, TextsAreSpelledAndNameTheDesktop)
{
    auto form = Open();
    const auto text = [&](const char* name) {
        return form->findChild<QLabel*>(QString::fromLatin1(name))->text();
    };
    EXPECT_EQ(text("lblMessagePreview"), QStringLiteral("Message Preview retrieves the first"));
    EXPECT_TRUE(text("lblDirect").startsWith(QStringLiteral("Mailbeacon assumes you have")));
    EXPECT_EQ(form->cbStartup->text(), QStringLiteral("Start Mailbeacon when I log in"));
}

TEST_F(TSettingsFormTest, DeletingRemovesTheSubKeyAtOnceAndMovesTheSelection)
{
    const std::shared_ptr<TAccount> held = AddStoredAccount("Alpha");
    AddStoredAccount("Mike");
    auto form = Open();
    Select(*form, QStringLiteral("Alpha"));
    Click(form->btnDeleteAccount);

    EXPECT_EQ(StoredAccountNames(), std::vector<std::string>{"Mike"});
    ASSERT_EQ(FConfiguration.Accounts.size(), 1u);
    EXPECT_EQ(FConfiguration.Accounts[0]->Name, "Mike");
    EXPECT_EQ(held->Name, "Alpha");
    EXPECT_EQ(Node(*form, QStringLiteral("Alpha")), nullptr);
    EXPECT_EQ(form->ActivePage(), QStringLiteral("Account"));
    EXPECT_EQ(form->edtAccountName->text(), QStringLiteral("Mike"));

    Click(form->btnDeleteAccount);
    EXPECT_TRUE(StoredAccountNames().empty());
    EXPECT_TRUE(FConfiguration.Accounts.empty());
    EXPECT_EQ(form->ActivePage(), QStringLiteral("NewAccount"));
    EXPECT_EQ(FConfiguration.LastSettingsPage, 0);
}

TEST_F(TSettingsFormTest, SecurityChoiceMovesOnlyTheStandardPorts)
{
    AddStoredAccount("Old");
    auto form = Open();
    const std::vector<std::pair<int, QString>> steps = {{TAccount::SecurityNone, "110"},
                                                        {TAccount::SecurityStartTls, "110"},
                                                        {TAccount::SecurityTls, "995"},
                                                        {TAccount::SecurityStartTls, "110"}};
    for (const auto& [security, port] : steps) {
        form->cmbNewSecurity->setCurrentIndex(security);
        EXPECT_EQ(form->edtNewPort->text(), port) << security;
    }
    // A port of the user's own is left alone.
    Retype(form->edtNewPort, QStringLiteral("1995"));
    form->cmbNewSecurity->setCurrentIndex(TAccount::SecurityTls);
    EXPECT_EQ(form->edtNewPort->text(), QStringLiteral("1995"));

    // An account stored before accounts had security keeps what it had.
    FDialogs.SaveAnswer = TSaveAnswer::Discard;
    Select(*form, QStringLiteral("Old"));
    EXPECT_EQ(form->cmbSecurity->currentText(), QStringLiteral("None"));
    EXPECT_EQ(form->edtPort->text(), QStringLiteral("110"));
    form->cmbSecurity->setCurrentIndex(TAccount::SecurityTls);
    EXPECT_EQ(form->edtPort->text(), QStringLiteral("995"));
}

TEST_F(TSettingsFormTest, SecurityAndTrustedCertificateAreSavedWithTheAccount)
{
    AddStoredAccount("Home");
    auto form = Open();
    Select(*form, QStringLiteral("Home"));
    form->cmbSecurity->setCurrentIndex(TAccount::SecurityStartTls);

    Retype(form->edtTrustedCertificate, QStringLiteral("12:34"));
    Click(form->btnSaveAccount);
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("is not a SHA-256 fingerprint")));
    TFileKeyStore stored(FDir.File("store.reg"));
    EXPECT_EQ(stored.ReadInteger(AccountKey("Home"), "Security"), TAccount::SecurityNone);
    EXPECT_EQ(FConfiguration.Accounts[0]->Security, TAccount::SecurityNone);

    // Pasted as some tools print it: lower case, no colons.
    const QString colons = QStringLiteral("AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                          "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89");
    Retype(form->edtTrustedCertificate, colons.toLower().remove(u':'));
    Click(form->btnSaveAccount);
    EXPECT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_EQ(form->edtTrustedCertificate->text(), colons);
    TFileKeyStore saved(FDir.File("store.reg"));
    EXPECT_EQ(saved.ReadInteger(AccountKey("Home"), "Security"), TAccount::SecurityStartTls);
    EXPECT_EQ(saved.ReadString(AccountKey("Home"), "TrustedCertificate"), colons.toStdString());
    EXPECT_EQ(FConfiguration.Accounts[0]->TrustedCertificate, colons.toStdString());

    Select(*form, QStringLiteral("Accounts"));
    Select(*form, QStringLiteral("Home"));
    EXPECT_EQ(form->cmbSecurity->currentText(), QStringLiteral("STARTTLS"));
    EXPECT_EQ(form->edtTrustedCertificate->text(), colons);
}

TEST_F(TSettingsFormTest, TrustStepShowsTheServersCertificateAndFillsTheFieldOnYes)
{
    if (TTestCertificates::Binary().empty())
        GTEST_SKIP() << "openssl is not installed (Debian package openssl)";
    TSelfSignedSampleServer tls;
    const TTestCertificates::TCertificate& certificate = tls.Certificate;
    TSampleServerThread& server = tls.Server;

    auto form = Open();
    form->cmbNewSecurity->setCurrentIndex(TAccount::SecurityNone);
    Click(form->btnNewTrustCertificate);
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("Enter the POP3 server first")));
    QTest::keyClicks(form->edtNewHost, QStringLiteral("127.0.0.1"));
    Click(form->btnNewTrustCertificate);
    ASSERT_EQ(FDialogs.Errors.size(), 2);
    EXPECT_TRUE(FDialogs.Errors[1].contains(QStringLiteral("Choose STARTTLS or SSL/TLS first")));

    form->cmbNewSecurity->setCurrentIndex(TAccount::SecurityTls);
    Retype(form->edtNewPort, QString::number(server.Port()));
    FDialogs.Answer = false;
    Click(form->btnNewTrustCertificate);
    // The dialog stays responsive while the certificate is fetched.
    EXPECT_FALSE(form->btnNewTrustCertificate->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return FDialogs.Questions.size() == 1; }, 10000));
    const QString question = FDialogs.Questions[0];
    EXPECT_TRUE(question.contains(QString::fromStdString(certificate.Fingerprint)))
        << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("it is self-signed (nobody vouches for it)")))
        << question.toStdString();
    EXPECT_TRUE(form->edtNewTrustedCertificate->text().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return form->btnNewTrustCertificate->isEnabled(); }));
    EXPECT_EQ(form->btnNewTrustCertificate->text(), QStringLiteral("Trust this certificate"));

    FDialogs.Answer = true;
    Click(form->btnNewTrustCertificate);
    ASSERT_TRUE(WaitFor([&] { return FDialogs.Questions.size() == 2; }, 10000));
    EXPECT_EQ(form->edtNewTrustedCertificate->text(),
              QString::fromStdString(certificate.Fingerprint));
    EXPECT_EQ(FDialogs.Errors.size(), 2);

    // A server that cannot be reached says so.
    Retype(form->edtNewPort, QString::number(FreeLoopbackPort()));
    ASSERT_TRUE(WaitFor([&] { return form->btnNewTrustCertificate->isEnabled(); }));
    Click(form->btnNewTrustCertificate);
    ASSERT_TRUE(WaitFor([&] { return FDialogs.Errors.size() == 3; }, 10000));
    EXPECT_TRUE(FDialogs.Errors[2].startsWith(
        QStringLiteral("The certificate of 127.0.0.1 could not be fetched:\nSocket Error #10061")))
        << FDialogs.Errors[2].toStdString();
}

TEST_F(TSettingsFormTest, StoreThatCannotBeWrittenIsReportedAndNothingIsLost)
{
    WriteFile(FDir.File("not-a-folder"), "");
    FStore = std::make_unique<TFileKeyStore>(FDir.File("not-a-folder/store.reg"));
    auto form = Open();
    QTest::keyClicks(form->edtNewAccountName, QStringLiteral("Home"));
    QTest::keyClicks(form->edtNewHost, QStringLiteral("pop.example.org"));
    Click(form->btnSaveNewAccount);

    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].startsWith(QStringLiteral("The account \"Home\" could not be "
                                                             "saved: ")))
        << FDialogs.Errors[0].toStdString();
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("not-a-folder")));
    EXPECT_TRUE(FConfiguration.Accounts.empty());
    EXPECT_EQ(TreeTexts(*form).size(), 4);
    EXPECT_EQ(form->edtNewAccountName->text(), QStringLiteral("Home"));
    EXPECT_EQ(form->edtNewHost->text(), QStringLiteral("pop.example.org"));

    FDialogs.SaveAnswer = TSaveAnswer::Discard;
    Click(form->btnClose);
    ASSERT_EQ(FDialogs.Errors.size(), 2);
    EXPECT_TRUE(FDialogs.Errors[1].startsWith(QStringLiteral("The options could not be saved")));
}

// Options

TEST_F(TSettingsFormTest, ProxyControlsFollowConnectionTypeAndCheckBox)
{
    FConfiguration.Connection.ConnectionType = TConnection::Direct;
    FConfiguration.Connection.UseProxy = true;
    FConfiguration.Connection.Proxy = "proxy.example.net";
    FConfiguration.Connection.ProxyPort = 3128;
    auto form = Open();
    Select(*form, QStringLiteral("Connection"));
    EXPECT_TRUE(form->rbDirect->isChecked());
    EXPECT_TRUE(form->cbUseProxy->isEnabled());
    EXPECT_TRUE(form->edtProxy->isEnabled());
    EXPECT_EQ(form->edtProxyPort->text(), QStringLiteral("3128"));

    Click(form->rbDialUp);
    EXPECT_EQ(FConfiguration.Connection.ConnectionType, TConnection::DialUp);
    EXPECT_FALSE(form->cbUseProxy->isEnabled());
    EXPECT_FALSE(form->edtProxy->isEnabled());
    EXPECT_FALSE(form->edtProxyPort->isEnabled());
    EXPECT_TRUE(FConfiguration.Connection.UseProxy);

    Click(form->rbDirect);
    EXPECT_EQ(FConfiguration.Connection.ConnectionType, TConnection::Direct);
    EXPECT_TRUE(form->cbUseProxy->isEnabled());
    EXPECT_TRUE(form->edtProxyPort->isEnabled());
    Click(form->cbUseProxy);
    EXPECT_FALSE(FConfiguration.Connection.UseProxy);
    EXPECT_FALSE(form->edtProxy->isEnabled());
    EXPECT_FALSE(form->edtProxyPort->isEnabled());
}

TEST_F(TSettingsFormTest, ProxyPortThatIsNoNumberBecomesEighty)
{
    FConfiguration.Connection.ConnectionType = TConnection::Direct;
    FConfiguration.Connection.UseProxy = true;
    FConfiguration.Connection.ProxyPort = 3128;
    auto form = Open();
    Select(*form, QStringLiteral("Connection"));
    Retype(form->edtProxyPort, QString());
    EXPECT_EQ(form->edtProxyPort->text(), QStringLiteral("80"));
    EXPECT_EQ(FConfiguration.Connection.ProxyPort, 80);
    Retype(form->edtProxyPort, QStringLiteral("8080"));
    EXPECT_EQ(FConfiguration.Connection.ProxyPort, 8080);
    QTest::keyClicks(form->edtProxyPort, QStringLiteral("x"));
    EXPECT_EQ(form->edtProxyPort->text(), QStringLiteral("80"));
    EXPECT_EQ(FConfiguration.Connection.ProxyPort, 80);
}

TEST_F(TSettingsFormTest, ConnectionTypeOfAnotherKindChecksNeitherButton)
{
    FConfiguration.Connection.ConnectionType = TConnection::DirectThroughProxy;
    auto form = Open();
    Select(*form, QStringLiteral("Connection"));
    EXPECT_FALSE(form->rbDialUp->isChecked());
    EXPECT_FALSE(form->rbDirect->isChecked());
    EXPECT_EQ(FConfiguration.Connection.ConnectionType, TConnection::DirectThroughProxy);
}

TEST_F(TSettingsFormTest, IntervalIsShownInWholeMinutesAndKeptInRange)
{
    ICheckTimer& timer = *FConfiguration.Notification.CheckTimer;
    timer.SetEnabled(true);
    timer.SetInterval(90000);
    auto form = Open();
    Select(*form, QStringLiteral("Notification"));
    EXPECT_EQ(form->SpinEdit->value(), 1);
    EXPECT_EQ(timer.Interval(), 60000u);
    EXPECT_TRUE(form->SpinEdit->isEnabled());

    // A count below the range, or no number at all, becomes the lower bound when the focus
    // leaves.
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    for (const QString& typed : {QStringLiteral("0"), QStringLiteral("abc")}) {
        form->SpinEdit->setValue(5);
        EXPECT_EQ(timer.Interval(), 300000u);
        form->SpinEdit->findChild<QLineEdit*>()->setText(typed);
        QApplication::sendEvent(form->SpinEdit, &focusOut);
        EXPECT_EQ(form->SpinEdit->value(), 1) << typed.toStdString();
        EXPECT_EQ(timer.Interval(), 60000u) << typed.toStdString();
    }
    form->SpinEdit->selectAll();
    QTest::keyClicks(form->SpinEdit, QStringLiteral("1440"));
    EXPECT_EQ(timer.Interval(), 1440u * 60000u);

    Click(form->cbCheckMail);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(form->SpinEdit->isEnabled());
}

TEST_F(TSettingsFormTest, ApplicationOptionsActAtOnceAndAreWrittenOnClose)
{
    FConfiguration.ApplicationSettings.MessagePreview = 500;
    FConfiguration.ApplicationSettings.DoubleClick = 7;
    auto form = Open();
    Select(*form, QStringLiteral("Application"));
    EXPECT_EQ(form->SpinEditMessagePreview->value(), 100);
    EXPECT_EQ(FConfiguration.ApplicationSettings.MessagePreview, 100);
    EXPECT_EQ(form->cmbTrayIconAction->currentIndex(), -1);
    EXPECT_EQ(FConfiguration.ApplicationSettings.DoubleClick, 7);

    form->cmbTrayIconAction->setCurrentIndex(2);
    EXPECT_EQ(FConfiguration.ApplicationSettings.DoubleClick, 2);
    Click(form->cbLog);
    EXPECT_TRUE(FConfiguration.ApplicationSettings.Log);
    EXPECT_FALSE(FStore->ValueExists(Settings, "Log")) << "written only when the dialog closes";

    // Escape closes the dialog like its Close button, and the options are written all the same.
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    TFileKeyStore stored(FDir.File("store.reg"));
    EXPECT_EQ(stored.ReadInteger(Settings, "Log"), 1);
    EXPECT_EQ(stored.ReadInteger(Settings, "DoubleClick"), 2);
    EXPECT_EQ(stored.ReadInteger(Settings, "MessagePreview"), 100);
}

TEST_F(TSettingsFormTest, DialogEndedWithoutClosingStillWritesTheOptions)
{
    auto form = Open();
    Select(*form, QStringLiteral("Application"));
    Click(form->cbLog);
    form.reset();
    EXPECT_EQ(TFileKeyStore(FDir.File("store.reg")).ReadInteger(Settings, "Log"), 1);
}

TEST_F(TSettingsFormTest, SoundControlsFollowTheirCheckBoxAndBrowseFillsThePath)
{
    auto form = Open();
    Select(*form, QStringLiteral("Notification"));
    EXPECT_FALSE(form->edtSound->isEnabled());
    EXPECT_FALSE(form->btnSoundBrowse->isEnabled());
    EXPECT_TRUE(form->edtMailClient->isEnabled());
    EXPECT_TRUE(form->btnMailClientBrowse->isEnabled());

    Click(form->cbSound);
    EXPECT_TRUE(FConfiguration.Notification.PlaySound);
    ASSERT_TRUE(form->btnSoundBrowse->isEnabled());
    FDialogs.OpenFileName = QStringLiteral("/home/ada/sounds/ding dong.wav");
    Click(form->btnSoundBrowse);
    EXPECT_EQ(form->edtSound->text(), FDialogs.OpenFileName);
    EXPECT_EQ(FConfiguration.Notification.Sound, "/home/ada/sounds/ding dong.wav");
    FDialogs.OpenFileName.clear();
    Click(form->btnSoundBrowse);
    EXPECT_EQ(FConfiguration.Notification.Sound, "/home/ada/sounds/ding dong.wav");

    FDialogs.OpenFileName = QStringLiteral("/usr/bin/mail-reader");
    Click(form->btnMailClientBrowse);
    EXPECT_EQ(FConfiguration.Notification.MailClient, "/usr/bin/mail-reader");
    EXPECT_EQ(FDialogs.OpenFilters,
              (QStringList{"Sounds (*.wav)", "Sounds (*.wav)", "Application (*)"}));
}

// The start-up entry

TEST_F(TSettingsFormTest, StartupEntryAppearsAndDisappearsWithTheCheckBox)
{
    const QString entry = FStartupShortcut.FileName();
    auto form = Open();
    Select(*form, QStringLiteral("Application"));
    EXPECT_FALSE(QFileInfo::exists(entry));
    Click(form->cbStartup);
    EXPECT_TRUE(FConfiguration.ApplicationSettings.Startup);
    EXPECT_TRUE(QFileInfo::exists(entry));
    Click(form->cbStartup);
    EXPECT_FALSE(FConfiguration.ApplicationSettings.Startup);
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_TRUE(FDialogs.Errors.isEmpty());
}

TEST_F(TSettingsFormTest, ShowingTheApplicationPageWritesTheStartupEntryAgain)
{
    FConfiguration.ApplicationSettings.Startup = true;
    auto form = Open();
    EXPECT_FALSE(QFileInfo::exists(FStartupShortcut.FileName()));
    Select(*form, QStringLiteral("Application"));
    EXPECT_TRUE(form->cbStartup->isChecked());
    EXPECT_TRUE(QFileInfo::exists(FStartupShortcut.FileName()));
}

TEST_F(TSettingsFormTest, StartupEntryThatCannotBeWrittenIsReported)
{
    WriteFile(FDir.File("not-a-folder"), "");
    FStartupShortcut = TStartupShortcut(QString::fromStdString(FDir.File("not-a-folder/autostart")),
                                        QStringLiteral("/usr/bin/mailbeacon"));
    auto form = Open();
    Select(*form, QStringLiteral("Application"));
    Click(form->cbStartup);
    ASSERT_EQ(FDialogs.Errors.size(), 1);
    EXPECT_TRUE(FDialogs.Errors[0].contains(QStringLiteral("could not be written")));
}

// Through the main window

class TSettingsFromMainFormTest : public TSettingsFormTest
{
protected:
    std::unique_ptr<TMainForm> MakeMainForm()
    {
        auto form = std::make_unique<TMainForm>(*FStore, FDialogs.Make(),
                                                std::make_shared<TRecordingShell>());
        auto probes = std::make_shared<TFakeConnectionProbes>();
        form->ConnectionDetector().SetProbes(probes);
        return form;
    }

    // Runs the action; work runs on the dialog once it is open, inside its modal loop.
    static void RunDialog(TMainForm& form, std::function<void(TSettingsForm&)> work)
    {
        bool ran = false;
        QTimer::singleShot(0, &form, [&] {
            auto* dialog = qobject_cast<TSettingsForm*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            ran = true;
            work(*dialog);
            if (dialog->isVisible())
                dialog->btnClose->click();
        });
        form.actViewSettings->trigger();
        EXPECT_TRUE(ran) << "the settings dialog did not open";
    }
};

TEST_F(TSettingsFromMainFormTest, UncheckingIntervalCheckingStopsTheWindowsTimerAtOnce)
{
    FStore->WriteInteger(Settings, "IntervalCheck", 1);
    auto main = MakeMainForm();
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    ASSERT_TRUE(main->CheckTimer().Timer().isActive());

    bool runningWhileOpen = true;
    std::int32_t storedWhileOpen = -1;
    QRect placed;
    RunDialog(*main, [&](TSettingsForm& dialog) {
        placed = dialog.geometry();
        Select(dialog, QStringLiteral("Notification"));
        Click(dialog.cbCheckMail);
        runningWhileOpen = main->CheckTimer().Timer().isActive();
        storedWhileOpen = FStore->ReadInteger(Settings, "IntervalCheck");
    });

    EXPECT_FALSE(runningWhileOpen);
    EXPECT_EQ(storedWhileOpen, 1);
    EXPECT_EQ(TFileKeyStore(FDir.File("store.reg")).ReadInteger(Settings, "IntervalCheck"), 0);
    const QRect window = main->geometry();
    EXPECT_EQ(placed.left(), window.left() + (window.width() - placed.width()) / 2);
    EXPECT_EQ(placed.top(), window.top() + (window.height() - placed.height()) / 2);
    EXPECT_TRUE(main->findChildren<TSettingsForm*>().isEmpty()) << "the dialog goes when closed";

    // The next opening starts on the page shown last.
    QString page;
    RunDialog(*main, [&](TSettingsForm& dialog) { page = dialog.ActivePage(); });
    EXPECT_EQ(page, QStringLiteral("Notification"));
}

} // namespace
