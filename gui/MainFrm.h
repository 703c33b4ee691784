#pragma once

#include "config/Data.h"
#include "config/PassCrypt.h"
#include "desktop/WavSound.h"
#include "gui/Dialogs.h"
#include "gui/LogList.h"
#include "gui/MailView.h"
#include "mail/MessageRow.h"
#include "net/ConnectionDetector.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class IShellOpen;
class QAction;
class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class TCheckTimer;
class TAboutForm;
class TFailedAccountsBar;
class TKeyStore;
class TLogForm;
class TMailOperationsController;
class TMessageListLayout;
class QTreeWidgetItem;
class TPreviewFollower;
class TNotifier;
class TSettingsForm;
class TSplitterBar;
class TTrayIcon;
class TVersionForm;

// The main window: it owns the configuration, the message list, the action log and the two
// timers, routes every menu, toolbar, tray and timer event, and shows the mail operations that
// its controller runs.
class TMainForm : public QMainWindow, public IMailView
{
    Q_OBJECT

public:
    static constexpr int StatusPanelCount = 3;

    // The window is created hidden, with the configuration loaded from store; a loading step
    // that fails is reported through dialogs.ShowError and the program goes on with what was
    // loaded and the defaults of the rest. shell opens the help pages and starts the mail client
    // (the desktop's own when empty).
    explicit TMainForm(TKeyStore& store, TDialogs dialogs = TDialogs::Standard(),
                       std::shared_ptr<IShellOpen> shell = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    TConfiguration& Configuration() { return *FConfiguration; }
    // Asks whether the computer is online, for the configuration's connection options.
    TConnectionDetector& ConnectionDetector() { return FConnectionDetector; }
    TCheckTimer& CheckTimer() { return *FCheckTimer; }
    // Runs the check, the preview and the deletion, and holds Busy, ErrorCount and LastTotal.
    TMailOperationsController& MailOperationsController() { return *FMailOperationsController; }
    // While the tray icon is not on the desktop, closing the window minimises it instead of
    // hiding it, since nothing else could bring the window back. The tray icon keeps this up
    // to date as the desktop's tray comes and goes.
    void SetTrayIconShown(bool shown) { FTrayIconShown = shown; }
    // The program starts hidden in the tray. Where the desktop shows no tray within the grace
    // period the window is shown instead, as nothing else could bring it up.
    void StartInTray(std::chrono::milliseconds grace = std::chrono::seconds(2));
    // With no account to check, the settings dialog opens on the new-account page once the
    // event loop runs, so that a first start is not a silent tray icon.
    void OfferFirstAccount();
    // Preview, Delete and the list's actions need a selected row, Stop a running operation and
    // Start Mail Client a mail client; each action follows what there is now.
    void UpdateActions();

    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString& text) override;
    QString TrayHint() const { return FTrayHint; }
    void SetTrayHint(const QString& text) override;

    void ReportOffline() override;
    void ShowMessagePreview();
    void HideMessagePreview();
    bool MessagePreviewShown() const;
    // Places the preview's second column after the texts of the first.
    void LayoutMessagePreviewTitle();
    void AddLogEntry(const QString& text) override;
    // Centres a dialog on this window.
    void PlaceDialog(QWidget* dialog) const;

    // Handlers, public so that the tray icon and the tests reach them.
    void WirePOP3Status(const QString& text) override;
    void TrayIconDblClick();
    void tmCheckMailTimer();
    void tmOnlineDetectionTimer();
    // The desktop session is ending (log-out, shut-down, a termination signal): the program
    // ends with it instead of hiding, and a failed save is reported on standard error and in
    // the log instead of a box that nobody would close.
    void QueryEndSession();
    void splMessageMoved();
    void sbtnMessagePreviewCloseClick();
    void lvNotificationDblClick();

    void actNotificationCheckNowExecute();
    void actNotificationStopExecute();
    void actNotificationDeleteMessagesExecute();
    // Starts the program of the MailClient option; also run by a check's notification.
    void actNotificationStartMailClientExecute();
    void actNotificationSelectAllExecute();
    void actViewMessagePreviewExecute();
    void actViewActionLogExecute();
    void actViewSettingsExecute();
    void actFileOpenMailbeaconExecute();
    void actFileCloseExecute();
    void actFileExitExecute();
    void actHelpOnlineHelpExecute();
    void actHelpHomePageExecute();
    void actHelpCheckForNewVersionExecute();
    void actHelpAboutMailbeaconExecute();
    // Settings... opened at the page of the account of that name (as it is when there is none).
    void OpenAccountSettings(const QString& account);
    // The pop-ups go through notifier from now on; the window owns it.
    void SetNotifier(TNotifier* notifier);

    bool ExitRequested = false;
    TLogList LogList;
    std::int32_t NotificationHeight = 0;
    bool WasOnline = false;

    TCryptLib CryptLib;
    // The tray icon blinks from the end of a check that announced mail until the next check
    // starts: TrayIcon->SetAnimated(true / false).
    TTrayIcon* TrayIcon;
    TWavSound WavSound;
    QList<QIcon> ilToolBar;
    QList<QAction*> ActionList;
    QTimer* tmOnlineDetection;

    QAction* actNotificationCheckNow;
    QAction* actNotificationStop;
    QAction* actNotificationDeleteMessages;
    QAction* actNotificationStartMailClient;
    QAction* actNotificationSelectAll;
    QAction* actViewMessagePreview;
    QAction* actViewActionLog;
    QAction* actViewSettings;
    QAction* actFileOpenMailbeacon;
    QAction* actFileClose;
    QAction* actFileExit;
    QAction* actHelpOnlineHelp;
    QAction* actHelpHomePage;
    QAction* actHelpCheckForNewVersion;
    QAction* actHelpAboutMailbeacon;

    QMenu* pmTrayIcon;
    QMenu* pmNotification;
    QToolBar* tbMainForm;
    QFrame* pnlTopSpacer;
    QWidget* pnlMainForm;
    QFrame* pnlNotification;
    QTreeWidget* lvNotification;
    TSplitterBar* splMessage;
    QFrame* pnlMessage;
    QWidget* pnlheader;
    QWidget* pnlMessagePreviewTitle;
    QLabel* lblFromTitle;
    QLabel* lblToTitle;
    QLabel* lblSubjectTitle;
    QLabel* lblAttachmentsTitle;
    QLabel* lblFrom;
    QLabel* lblTo;
    QLabel* lblSubject;
    QLabel* lblAttachments;
    QToolButton* sbtnMessagePreviewClose;
    QPlainTextEdit* memMessage;
    // The accounts the last check could not read, above the message list.
    TFailedAccountsBar* pnlFailedAccounts;
    // Shows the pop-up of a check that announces mail.
    TNotifier* Notifier = nullptr;

Q_SIGNALS:
    // The text the tray icon shows as its tooltip.
    void TrayHintChanged(const QString& text);
    // The tray icon's animation is to start (a check notifies) or to stop (a check starts).
    void TrayAnimationChanged(bool running);
    // The notification sound is to be played once.
    void NotificationSoundRequested(const QString& fileName);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QMenu* createPopupMenu() override;

private:
    bool IsOnline() const override;
    int MessageCount() const override;
    std::vector<TMessageRow> SelectedMessages() const override;
    void BeginCheck() override;
    void AddMessage(const TMessageRow& row) override;
    void EndCheck(const std::vector<std::size_t>& newRows) override;
    void ShowPreview(const TMessagePreview& preview) override;
    bool ConfirmDeletion() override;
    void AnnounceMail(const TMailNotice& notice) override;
    void ShowFailedAccounts(const std::vector<TAccountFailure>& failures) override;

    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateClientArea();
    void CreateMessagePane();
    void CreateStatusBar();
    void CreateTrayIcon();
    void CreateFailureReports();
    QAction* MakeAction(const char* name, const char* category, const QString& caption,
                        const QString& hint, int imageIndex, void (TMainForm::*handler)());
    QAction* AddMenuItem(QMenu* menu, const char* name, QAction* action);
    // F5, Delete, Ctrl+Q, Ctrl+, and Escape act while the window is active; Return on the list
    // previews its current row. The menus show the keys.
    void AssignKeys();
    // The caption of a menu item, with the letter it underlines marked: one of its own within
    // its menu.
    static QString MenuText(const char* itemName, const QString& caption);
    // Return on the list: the current row alone is selected and previewed.
    void PreviewCurrentRow();
    void AddMenuSeparator(QMenu* menu, const char* name);
    void AddToolButton(const char* name, QAction* action, const QString& hint);

    void FormCreate();
    void LoadConfiguration();
    void FormShow();
    void FormCloseQuery(QCloseEvent* event);
    void FormResize();
    void FormDestroy();
    // The list pane may leave no less than this below it while the preview pane is shown.
    void LimitNotificationHeight();
    void ApplyLayout();
    void LayoutMainPanel();
    void LayoutPreviewHeader();
    void splMessageDragged(int top);
    int ListPaneHeight() const;
    void SetListPaneHeight(int height);
    std::vector<TColumnWidth> ColumnWidths() const;
    void ApplyColumnWidths(const std::vector<TColumnWidth>& columns);
    void LoadPlacement();
    void SavePlacement();
    // Saves what the window keeps in the store; a failure is shown, never thrown.
    void SaveLayout(bool withPaneValues);

    TKeyStore& FStore;
    TDialogs FDialogs;
    std::shared_ptr<IShellOpen> FShell;
    std::unique_ptr<TConfiguration> FConfiguration;
    TConnectionDetector FConnectionDetector;
    TCheckTimer* FCheckTimer = nullptr;
    bool FTrayIconShown = false;
    QString FTrayHint;
    QString FLastSaveError;
    bool FSessionEnding = false;
    bool FSessionSaveFailed = false;
    QList<QLabel*> FStatusPanels;
    QPointer<TLogForm> FLogForm;
    QPointer<TSettingsForm> FSettingsForm;
    QPointer<TVersionForm> FVersionForm;
    QPointer<TAboutForm> FAboutForm;
    TMessageListLayout* FMessageListLayout = nullptr;
    TPreviewFollower* FPreviewFollower = nullptr;
    // A message as a refresh finds it again: its account's record and its unique id.
    using TMessageKey = std::pair<const TAccount*, std::string>;
    // What a check keeps of the list while it rebuilds it.
    struct TKeptPlace
    {
        std::set<TMessageKey> Selected;
        std::optional<TMessageKey> Current;
        std::optional<TMessageKey> Previewed;
        bool PreviewListed = false;
    };
    TKeptPlace FKeptPlace;
    // The rows the check under way has added, in order.
    std::vector<QTreeWidgetItem*> FCheckItems;
    // The row the preview pane shows.
    std::optional<TMessageRow> FPreviewedRow;
    // Last, so that its workers end before anything they report to goes.
    std::unique_ptr<TMailOperationsController> FMailOperationsController;
};
