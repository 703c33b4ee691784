#include "gui/MainFrm.h"

#include "config/KeyStore.h"
#include "config/ListSort.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/Icons.h"
#include "desktop/LocalTime.h"
#include "desktop/ShellOpen.h"
#include "desktop/TrayIcon.h"
#include "gui/AboutFrm.h"
#include "gui/AccountFailures.h"
#include "gui/CheckTimer.h"
#include "gui/Controls.h"
#include "gui/ElidingLabel.h"
#include "gui/LogFrm.h"
#include "gui/MailClient.h"
#include "gui/MailNotification.h"
#include "gui/MailOperations.h"
#include "gui/MessageListItem.h"
#include "gui/MessageListLayout.h"
#include "gui/PreviewFollower.h"
#include "gui/SettingsFrm.h"
#include "gui/SplitterBar.h"
#include "gui/VersionFrm.h"
#include "mail/CheckOutcome.h"
#include "mail/MailDelete.h"
#include "mail/MailPreview.h"
#include "net/VendorHost.h"
#include "pop3/HeaderText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSessionManager>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <iostream>
#include <string>
#include <utility>

namespace {

constexpr int DesignWidth = 550;
constexpr int DesignHeight = 390;
constexpr int DesignNotificationHeight = 163;
constexpr int MinListPaneHeight = 80;
constexpr int MinSplitterSpace = 80;
constexpr int PreviewReserve = 120;
constexpr int HeaderHeight = 40;
constexpr int OnlineDetectionInterval = 1000;
constexpr int StatusPanelWidths[TMainForm::StatusPanelCount] = {70, 70, 150};

// Window placement as the store keeps it.
constexpr std::int32_t ShowNormal = 1;
constexpr std::int32_t ShowMinimized = 2;
constexpr std::int32_t ShowMaximized = 3;
constexpr std::int32_t RestoreToMaximized = 2;

struct TColumnDesign
{
    const char* Caption;
    int Width;
};
constexpr TColumnDesign ListColumns[] = {
    {"Account", 60}, {"From", 150}, {"Subject", 150}, {"Date", 100}, {"Size", 55}};

} // namespace

TMainForm::TMainForm(TKeyStore& store, TDialogs dialogs, std::shared_ptr<IShellOpen> shell,
                     QWidget* parent)
    : QMainWindow(parent)
    , CryptLib(MakeProgramCipher())
    , FStore(store)
    , FDialogs(std::move(dialogs))
    , FShell(shell ? std::move(shell) : std::make_shared<TShellOpen>())
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Mailbeacon 2.0"));
    setWindowIcon(Icons::ProgramIcon());
    for (int index = 0; index < Icons::ToolBarImageCount; ++index)
        ilToolBar.append(Icons::ToolBarImage(index));
    FTrayHint = QStringLiteral("Mailbeacon");

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateClientArea();
    CreateStatusBar();
    CreateTrayIcon();
    AssignKeys();
    CreateFailureReports();

    resize(DesignWidth, DesignHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    tmOnlineDetection = new QTimer(this);
    tmOnlineDetection->setObjectName(QStringLiteral("tmOnlineDetection"));
    tmOnlineDetection->setInterval(OnlineDetectionInterval);
    connect(tmOnlineDetection, &QTimer::timeout, this, &TMainForm::tmOnlineDetectionTimer);

    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        // The autostart entry starts the program at the next log-in; a restart by the
        // session manager as well would only start a second copy.
        manager.setRestartHint(QSessionManager::RestartNever);
        QueryEndSession();
    });

    FormCreate();
    FMailOperationsController = std::make_unique<TMailOperationsController>(*this, *FConfiguration);
    connect(FMailOperationsController.get(), &TMailOperationsController::BusyChanged, this,
            &TMainForm::UpdateActions);
    connect(lvNotification, &QTreeWidget::itemSelectionChanged, this, &TMainForm::UpdateActions);
    connect(lvNotification->model(), &QAbstractItemModel::rowsInserted, this,
            &TMainForm::UpdateActions);
    connect(lvNotification->model(), &QAbstractItemModel::modelReset, this,
            &TMainForm::UpdateActions);
    connect(pmTrayIcon, &QMenu::aboutToShow, this, &TMainForm::UpdateActions);
    UpdateActions();
    tmOnlineDetection->start();
}

TMainForm::~TMainForm()
{
    FormDestroy();
    // The list empties itself as it goes; the window's half of the state is gone by then.
    disconnect(lvNotification->model(), nullptr, this, nullptr);
    disconnect(lvNotification, nullptr, this, nullptr);
}

QAction* TMainForm::MakeAction(const char* name, const char* category, const QString& caption,
                               const QString& hint, int imageIndex, void (TMainForm::*handler)())
{
    auto* action = Controls::Named(new QAction(caption, this), name);
    action->setProperty("Category", QString::fromLatin1(category));
    action->setProperty("Hint", hint);
    action->setProperty("ImageIndex", imageIndex);
    if (!hint.isEmpty())
        action->setToolTip(hint);
    if (imageIndex >= 0)
        action->setIcon(ilToolBar.value(imageIndex));
    connect(action, &QAction::triggered, this, handler);
    ActionList.append(action);
    return action;
}

void TMainForm::CreateActions()
{
    actNotificationCheckNow =
        MakeAction("actNotificationCheckNow", "Notification", QStringLiteral("Check Now"),
                   QStringLiteral("Check now"), 0, &TMainForm::actNotificationCheckNowExecute);
    actNotificationStop =
        MakeAction("actNotificationStop", "Notification", QStringLiteral("Stop"),
                   QStringLiteral("Stop"), 3, &TMainForm::actNotificationStopExecute);
    actNotificationDeleteMessages = MakeAction(
        "actNotificationDeleteMessages", "Notification", QStringLiteral("Delete Message(s)"),
        QStringLiteral("Delete"), 1, &TMainForm::actNotificationDeleteMessagesExecute);
    actNotificationStartMailClient = MakeAction("actNotificationStartMailClient", "Notification",
                                                QStringLiteral("Start Mail Client"), {}, 6,
                                                &TMainForm::actNotificationStartMailClientExecute);
    actNotificationSelectAll =
        MakeAction("actNotificationSelectAll", "Notification", QStringLiteral("Select All"),
                   QStringLiteral("Select All"), -1, &TMainForm::actNotificationSelectAllExecute);
    actViewMessagePreview =
        MakeAction("actViewMessagePreview", "View", QStringLiteral("Message Preview"), {}, 5,
                   &TMainForm::actViewMessagePreviewExecute);
    actViewActionLog = MakeAction("actViewActionLog", "View", QStringLiteral("Action Log..."), {},
                                  4, &TMainForm::actViewActionLogExecute);
    actViewSettings = MakeAction("actViewSettings", "View", QStringLiteral("Settings..."),
                                 QStringLiteral("Settings"), 2, &TMainForm::actViewSettingsExecute);
    actFileOpenMailbeacon =
        MakeAction("actFileOpenMailbeacon", "File", QStringLiteral("Open Mailbeacon"), {}, 12,
                   &TMainForm::actFileOpenMailbeaconExecute);
    actFileClose = MakeAction("actFileClose", "File", QStringLiteral("Close"),
                              QStringLiteral("Close"), -1, &TMainForm::actFileCloseExecute);
    actFileExit = MakeAction("actFileExit", "File", QStringLiteral("Exit"), QStringLiteral("Exit"),
                             11, &TMainForm::actFileExitExecute);
    actHelpOnlineHelp = MakeAction("actHelpOnlineHelp", "Help", QStringLiteral("Online help"), {},
                                   7, &TMainForm::actHelpOnlineHelpExecute);
    actHelpHomePage = MakeAction("actHelpHomePage", "Help", QStringLiteral("Home page"), {}, 9,
                                 &TMainForm::actHelpHomePageExecute);
    actHelpCheckForNewVersion =
        MakeAction("actHelpCheckForNewVersion", "Help", QStringLiteral("Check For New Version..."),
                   {}, 10, &TMainForm::actHelpCheckForNewVersionExecute);
    actHelpAboutMailbeacon =
        MakeAction("actHelpAboutMailbeacon", "Help", QStringLiteral("About Mailbeacon..."), {}, 8,
                   &TMainForm::actHelpAboutMailbeaconExecute);
}

// A menu item is an object of its own, named after its place, that shows its action's caption
// and image and runs the action.
QAction* TMainForm::AddMenuItem(QMenu* menu, const char* name, QAction* action)
{
    auto* item = Controls::Named(new QAction(menu), name);
    // The item shows its action's key; the action itself takes it.
    item->setShortcutContext(Qt::WidgetShortcut);
    const auto follow = [item, action, name] {
        item->setText(MenuText(name, action->text()));
        item->setIcon(action->icon());
        item->setToolTip(action->toolTip());
        item->setEnabled(action->isEnabled());
        item->setVisible(action->isVisible());
        item->setShortcut(action->shortcut());
    };
    follow();
    connect(action, &QAction::changed, item, follow);
    connect(item, &QAction::triggered, action, &QAction::trigger);
    menu->addAction(item);
    return item;
}

void TMainForm::AddMenuSeparator(QMenu* menu, const char* name)
{
    Controls::Named(menu->addSeparator(), name);
}

void TMainForm::CreateMenus()
{
    QMenuBar* mmMainForm = menuBar();
    mmMainForm->setObjectName(QStringLiteral("mmMainForm"));

    QMenu* mmiFile = mmMainForm->addMenu(QStringLiteral("&File"));
    mmiFile->setObjectName(QStringLiteral("mmiFile"));
    AddMenuItem(mmiFile, "mmiFileClose", actFileClose);
    AddMenuSeparator(mmiFile, "mmiFileSep1");
    AddMenuItem(mmiFile, "mmiFileExit", actFileExit);

    QMenu* mmiView = mmMainForm->addMenu(QStringLiteral("&View"));
    mmiView->setObjectName(QStringLiteral("mmiView"));
    AddMenuItem(mmiView, "mmiViewMessageDetails", actViewMessagePreview);
    AddMenuSeparator(mmiView, "mmiViewSep1");
    AddMenuItem(mmiView, "mmiViewActionlog", actViewActionLog);
    AddMenuItem(mmiView, "mmiViewSettings", actViewSettings);

    QMenu* mmiNtification = mmMainForm->addMenu(QStringLiteral("&Notification"));
    mmiNtification->setObjectName(QStringLiteral("mmiNtification"));
    AddMenuItem(mmiNtification, "mmiNotificationCheckNow", actNotificationCheckNow);
    AddMenuItem(mmiNtification, "mmiNotificationCancel", actNotificationStop);
    AddMenuSeparator(mmiNtification, "mmiNotificationSep1");
    AddMenuItem(mmiNtification, "mmiNotificationDelete", actNotificationDeleteMessages);
    AddMenuSeparator(mmiNtification, "mmiNotificationSep2");
    AddMenuItem(mmiNtification, "mmiStartmailclient", actNotificationStartMailClient);
    AddMenuSeparator(mmiNtification, "mmiNotificationSep3");
    AddMenuItem(mmiNtification, "mmiNotificationSelectAll", actNotificationSelectAll);

    QMenu* mmiHelp = mmMainForm->addMenu(QStringLiteral("&Help"));
    mmiHelp->setObjectName(QStringLiteral("mmiHelp"));
    AddMenuItem(mmiHelp, "mmiHelpOnlineHelp", actHelpOnlineHelp);
    AddMenuItem(mmiHelp, "mmiHelpHomePage", actHelpHomePage);
    AddMenuSeparator(mmiHelp, "mmiHelpSep1");
    AddMenuItem(mmiHelp, "mmiHelpCheckForNewVersion", actHelpCheckForNewVersion);
    AddMenuSeparator(mmiHelp, "mmiHelpSep2");
    AddMenuItem(mmiHelp, "mmiHelpAbout", actHelpAboutMailbeacon);

    pmTrayIcon = new QMenu(this);
    pmTrayIcon->setObjectName(QStringLiteral("pmTrayIcon"));
    AddMenuItem(pmTrayIcon, "pmiOpen", actFileOpenMailbeacon);
    AddMenuSeparator(pmTrayIcon, "pmiSep1");
    AddMenuItem(pmTrayIcon, "pmiCheckNow", actNotificationCheckNow);
    AddMenuItem(pmTrayIcon, "pmiStartmailclient", actNotificationStartMailClient);
    AddMenuSeparator(pmTrayIcon, "pmiSep2");
    AddMenuItem(pmTrayIcon, "pmiExit", actFileExit);

    pmNotification = new QMenu(this);
    pmNotification->setObjectName(QStringLiteral("pmNotification"));
    AddMenuItem(pmNotification, "pmiNotificationMessageDetails", actViewMessagePreview);
    AddMenuItem(pmNotification, "pmiNotificationDelete", actNotificationDeleteMessages);
    AddMenuSeparator(pmNotification, "pmiNotificationSep1");
    AddMenuItem(pmNotification, "pmiNotificationSelectAll", actNotificationSelectAll);
}

// A button shows its own hint, or its action's when it has none.
void TMainForm::AddToolButton(const char* name, QAction* action, const QString& hint)
{
    auto* button = Controls::Named(new QToolButton(tbMainForm), name);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setIconSize(tbMainForm->iconSize());
    button->setFocusPolicy(Qt::NoFocus);
    const QString tip = hint.isEmpty() ? action->property("Hint").toString() : hint;
    button->setToolTip(tip);
    // The button takes its action's tooltip again whenever the action changes.
    connect(action, &QAction::changed, button, [button, tip] { button->setToolTip(tip); });
    tbMainForm->addWidget(button);
}

void TMainForm::CreateToolBar()
{
    tbMainForm = addToolBar(QStringLiteral("Toolbar"));
    tbMainForm->setObjectName(QStringLiteral("tbMainForm"));
    tbMainForm->setMovable(false);
    tbMainForm->setFloatable(false);
    tbMainForm->setIconSize(QSize(16, 16));
    tbMainForm->setToolButtonStyle(Qt::ToolButtonIconOnly);
    AddToolButton("tbtnCheckMail", actNotificationCheckNow, {});
    AddToolButton("tbtnCancel", actNotificationStop, {});
    tbMainForm->addSeparator();
    AddToolButton("tbtnMessagePreview", actViewMessagePreview, QStringLiteral("Message Preview"));
    AddToolButton("tbtnDelete", actNotificationDeleteMessages, QStringLiteral("Delete Message(s)"));
    tbMainForm->addSeparator();
    AddToolButton("tbtnStartMailClient", actNotificationStartMailClient,
                  QStringLiteral("Start Mail Client"));
    tbMainForm->addSeparator();
    AddToolButton("tbtnLog", actViewActionLog, QStringLiteral("Log"));
    AddToolButton("tbtnSettings", actViewSettings, {});
    tbMainForm->addSeparator();
    AddToolButton("tbtnHelp", actHelpAboutMailbeacon, QStringLiteral("About Mailbeacon"));
}

void TMainForm::CreateClientArea()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("MainFormClient"));
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pnlTopSpacer = Controls::Panel("pnlTopSpacer", client);
    pnlTopSpacer->setFixedHeight(3);
    layout->addWidget(pnlTopSpacer);

    // The panes inside are placed by hand (LayoutMainPanel): the list pane keeps its height
    // and the preview pane takes what is left.
    pnlMainForm = new QWidget(client);
    pnlMainForm->setObjectName(QStringLiteral("pnlMainForm"));
    pnlMainForm->setMinimumHeight(MinListPaneHeight + PreviewReserve);
    pnlMainForm->installEventFilter(this);
    layout->addWidget(pnlMainForm, 1);

    pnlNotification = Controls::Panel("pnlNotification", pnlMainForm);
    pnlNotification->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    pnlNotification->setMinimumHeight(MinListPaneHeight);
    pnlNotification->setGeometry(0, 0, DesignWidth, DesignNotificationHeight);
    auto* listLayout = new QVBoxLayout(pnlNotification);
    listLayout->setContentsMargins(1, 1, 1, 1);

    lvNotification = new QTreeWidget(pnlNotification);
    lvNotification->setObjectName(QStringLiteral("lvNotification"));
    lvNotification->setFrameShape(QFrame::NoFrame);
    lvNotification->setRootIsDecorated(false);
    lvNotification->setUniformRowHeights(true);
    lvNotification->setAllColumnsShowFocus(true);
    lvNotification->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvNotification->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvNotification->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvNotification->setContextMenuPolicy(Qt::CustomContextMenu);
    QStringList captions;
    for (const TColumnDesign& column : ListColumns)
        captions.append(QString::fromLatin1(column.Caption));
    lvNotification->setHeaderLabels(captions);
    lvNotification->header()->setSectionsMovable(false);
    std::vector<TMessageListLayout::TColumn> columns;
    for (int column = 0; column < static_cast<int>(std::size(ListColumns)); ++column) {
        lvNotification->setColumnWidth(column, ListColumns[column].Width);
        // The account, date and size are short texts worth reading whole.
        const bool fitsText = column == 0 || column == TMessageListItem::DateColumn ||
                              column == TMessageListItem::SizeColumn;
        columns.push_back({ListColumns[column].Width, fitsText});
    }
    FMessageListLayout = new TMessageListLayout(lvNotification, 2, std::move(columns));
    TPreviewFollower::THooks follow;
    follow.PaneShown = [this] { return MessagePreviewShown(); };
    follow.Busy = [this] { return !FMailOperationsController || FMailOperationsController->Busy; };
    follow.Online = [this] { return IsOnline(); };
    follow.Preview = [this] { actViewMessagePreviewExecute(); };
    FPreviewFollower = new TPreviewFollower(lvNotification, std::move(follow), this);
    FPreviewFollower->setObjectName(QStringLiteral("PreviewFollower"));
    // The selection stays as visible as with the focus when the list loses it.
    QPalette palette = lvNotification->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    lvNotification->setPalette(palette);
    listLayout->addWidget(lvNotification);
    connect(lvNotification, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& position) {
                pmNotification->popup(lvNotification->viewport()->mapToGlobal(position));
            });
    connect(lvNotification, &QTreeWidget::itemDoubleClicked, this,
            &TMainForm::lvNotificationDblClick);

    splMessage = new TSplitterBar(pnlMainForm);
    splMessage->setObjectName(QStringLiteral("splMessage"));
    connect(splMessage, &TSplitterBar::Dragged, this, &TMainForm::splMessageDragged);
    connect(splMessage, &TSplitterBar::Moved, this, &TMainForm::splMessageMoved);

    CreateMessagePane();
    setCentralWidget(client);
}

void TMainForm::CreateMessagePane()
{
    pnlMessage = Controls::Panel("pnlMessage", pnlMainForm);
    pnlMessage->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* layout = new QVBoxLayout(pnlMessage);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);

    pnlheader = new QWidget(pnlMessage);
    pnlheader->setObjectName(QStringLiteral("pnlheader"));
    pnlheader->setFixedHeight(HeaderHeight);
    pnlheader->installEventFilter(this);
    layout->addWidget(pnlheader);

    pnlMessagePreviewTitle = new QWidget(pnlheader);
    pnlMessagePreviewTitle->setObjectName(QStringLiteral("pnlMessagePreviewTitle"));
    lblFromTitle =
        Controls::Label("lblFromTitle", QStringLiteral("From: "), pnlMessagePreviewTitle);
    lblToTitle = Controls::Label("lblToTitle", QStringLiteral("To: "), pnlMessagePreviewTitle);
    lblSubjectTitle =
        Controls::Label("lblSubjectTitle", QStringLiteral("Subject: "), pnlMessagePreviewTitle);
    lblAttachmentsTitle = Controls::Label("lblAttachmentsTitle", QStringLiteral("Attachments:"),
                                          pnlMessagePreviewTitle);
    // Long values are cut with an ellipsis and shown whole when the pointer rests on them.
    lblFrom = Controls::Named(new TElidingLabel(pnlMessagePreviewTitle), "lblFrom");
    lblTo = Controls::Named(new TElidingLabel(pnlMessagePreviewTitle), "lblTo");
    lblSubject = Controls::Named(new TElidingLabel(pnlMessagePreviewTitle), "lblSubject");
    lblAttachments = Controls::Named(new TElidingLabel(pnlMessagePreviewTitle), "lblAttachments");
    for (QLabel* caption : {lblFromTitle, lblToTitle, lblSubjectTitle, lblAttachmentsTitle}) {
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
    }
    for (QLabel* label : {lblFromTitle, lblToTitle, lblSubjectTitle, lblAttachmentsTitle, lblFrom,
                          lblTo, lblSubject, lblAttachments})
        label->adjustSize();
    // The captions of the first column share one width, so both values start in line.
    const int captionWidth = std::max(lblFromTitle->width(), lblSubjectTitle->width());
    const int rowHeight = lblFromTitle->height();
    const int firstTop = (HeaderHeight - 2 * rowHeight) / 3;
    const int secondTop = HeaderHeight - firstTop - rowHeight;
    lblFromTitle->setGeometry(6, firstTop, captionWidth, rowHeight);
    lblSubjectTitle->setGeometry(6, secondTop, captionWidth, rowHeight);
    lblFrom->move(6 + captionWidth, firstTop);
    lblSubject->move(6 + captionWidth, secondTop);
    lblToTitle->move(lblToTitle->x(), firstTop);
    lblAttachmentsTitle->move(lblAttachmentsTitle->x(), secondTop);
    lblTo->move(lblTo->x(), firstTop);
    lblAttachments->move(lblAttachments->x(), secondTop);
    LayoutMessagePreviewTitle();

    sbtnMessagePreviewClose = new QToolButton(pnlheader);
    sbtnMessagePreviewClose->setObjectName(QStringLiteral("sbtnMessagePreviewClose"));
    sbtnMessagePreviewClose->setAutoRaise(true);
    sbtnMessagePreviewClose->setIcon(Icons::CloseImage());
    sbtnMessagePreviewClose->setIconSize(QSize(10, 10));
    sbtnMessagePreviewClose->setFixedSize(16, 15);
    sbtnMessagePreviewClose->setToolTip(QStringLiteral("Close the preview"));
    connect(sbtnMessagePreviewClose, &QToolButton::clicked, this,
            &TMainForm::sbtnMessagePreviewCloseClick);

    memMessage = new QPlainTextEdit(pnlMessage);
    memMessage->setObjectName(QStringLiteral("memMessage"));
    memMessage->setReadOnly(true);
    memMessage->setFrameShape(QFrame::NoFrame);
    memMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    memMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    memMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(memMessage, 1);
}

void TMainForm::CreateStatusBar()
{
    QStatusBar* stbMainForm = statusBar();
    stbMainForm->setObjectName(QStringLiteral("stbMainForm"));
    stbMainForm->setSizeGripEnabled(true);
    // Permanent widgets, so that no passing status tip ever hides a panel's text.
    for (int panel = 0; panel < StatusPanelCount; ++panel) {
        const QByteArray name = "stbMainFormPanel" + QByteArray::number(panel);
        QLabel* label = Controls::Label(name.constData(), {}, stbMainForm);
        label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        label->setIndent(2);
        const bool last = panel == StatusPanelCount - 1;
        if (last)
            label->setMinimumWidth(StatusPanelWidths[panel]);
        else
            label->setFixedWidth(StatusPanelWidths[panel]);
        stbMainForm->addPermanentWidget(label, last ? 1 : 0);
        FStatusPanels.append(label);
    }
}

// The icon shows the program's image with the latest status as its tooltip; while mail
// waits it blinks between the two "mail waiting" frames.
void TMainForm::CreateTrayIcon()
{
    TrayIcon = new TTrayIcon(this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->SetHint(FTrayHint);
    TrayIcon->SetIcon(Icons::ProgramIcon());
    TrayIcon->SetIcons({Icons::MailWaitingFrame(0), Icons::MailWaitingFrame(1)});
    TrayIcon->SetPopupMenu(pmTrayIcon);
    TrayIcon->OnDblClick = [this] {
        try {
            TrayIconDblClick();
        } catch (const std::exception& error) {
            FDialogs.ShowError(this, QString::fromStdString(error.what()));
        }
    };
    connect(this, &TMainForm::TrayHintChanged, TrayIcon, &TTrayIcon::SetHint);
    // Mail announced by a check blinks the icon until the next check starts.
    connect(this, &TMainForm::TrayAnimationChanged, TrayIcon, &TTrayIcon::SetAnimated);
    SetTrayIconShown(TrayIcon->Available());
    connect(TrayIcon, &TTrayIcon::AvailableChanged, this, [this](bool available) {
        SetTrayIconShown(available);
        // A hidden window could not be reached any more.
        if (!available && isHidden())
            showMinimized();
    });
    WavSound.SetSoundLoop(false);
    connect(this, &TMainForm::NotificationSoundRequested, this, [this](const QString& fileName) {
        WavSound.SetSoundFile(fileName);
        WavSound.SetActive(true);
    });
}

// Failures show on the icon and in a bar above the list; pop-ups go to the desktop's
// notification service, or the tray's balloon.
void TMainForm::CreateFailureReports()
{
    pnlFailedAccounts = new TFailedAccountsBar(centralWidget());
    static_cast<QVBoxLayout*>(centralWidget()->layout())->insertWidget(1, pnlFailedAccounts);
    connect(pnlFailedAccounts, &TFailedAccountsBar::AccountSettingsRequested, this,
            &TMainForm::OpenAccountSettings);
    SetNotifier(new TDesktopNotifier(TrayIcon, this));
}

void TMainForm::SetNotifier(TNotifier* notifier)
{
    delete Notifier;
    Notifier = notifier;
    Notifier->setParent(this);
    connect(Notifier, &TNotifier::ShowRequested, this, &TMainForm::actFileOpenMailbeaconExecute);
    connect(Notifier, &TNotifier::MailClientRequested, this,
            &TMainForm::actNotificationStartMailClientExecute);
}

// The icon keeps its mark until a check reads every account.
void TMainForm::ShowFailedAccounts(const std::vector<TAccountFailure>& failures)
{
    TrayIcon->SetBadge(!failures.empty());
    pnlFailedAccounts->SetFailures(failures);
}

void TMainForm::StartInTray(std::chrono::milliseconds grace)
{
    if (TrayIcon->Available())
        return;
    QTimer::singleShot(grace, this, [this] {
        if (!TrayIcon->Available())
            actFileOpenMailbeaconExecute();
    });
}

QMenu* TMainForm::createPopupMenu()
{
    return nullptr;
}

QString TMainForm::StatusText(int panel) const
{
    return panel >= 0 && panel < FStatusPanels.size() ? FStatusPanels[panel]->text() : QString();
}

void TMainForm::SetStatusText(int panel, const QString& text)
{
    if (panel < 0 || panel >= FStatusPanels.size())
        return;
    FStatusPanels[panel]->setText(text);
    FStatusPanels[panel]->setToolTip(panel == StatusPanelCount - 1 ? text : QString());
}

void TMainForm::SetTrayHint(const QString& text)
{
    FTrayHint = text;
    Q_EMIT TrayHintChanged(text);
}

// Loads in the order accounts, options, window values. A step that fails stops the loading;
// the program then runs with what was loaded until then, and with the defaults of the rest.
void TMainForm::FormCreate()
{
    ExitRequested = false;
    auto checkTimer = std::make_unique<TCheckTimer>();
    FCheckTimer = checkTimer.get();
    connect(&FCheckTimer->Timer(), &QTimer::timeout, this, &TMainForm::tmCheckMailTimer);
    FConfiguration = std::make_unique<TConfiguration>(std::move(checkTimer));
    LogList.Clear();
    NotificationHeight = DesignNotificationHeight;

    ApplyLayout();
    LoadConfiguration();

    ShowMessagePreview();
    HideMessagePreview();
    WasOnline = false;
}

// The records start with the defaults, so a value that does not load keeps its default.
void TMainForm::LoadConfiguration()
{
    std::vector<TColumnWidth> columns = ColumnWidths();
    try {
        LoadAccounts(FStore, CryptLib, FConfiguration->Accounts);
        LoadSettings(FStore, *FConfiguration);
        LoadWindowSettings(FStore, NotificationHeight, columns);
        ApplyColumnWidths(columns);
        FMessageListLayout->SetSort(LoadListSort(FStore));
        LoadPlacement();
    } catch (const std::exception& error) {
        ApplyColumnWidths(columns);
        // The defaults in use must not replace the user's stored options at the next save.
        if (FConfiguration->StoredOptions.empty())
            RememberStoredOptions(*FConfiguration);
        FDialogs.ShowError(nullptr, QString::fromStdString(error.what()));
    }
}

std::vector<TColumnWidth> TMainForm::ColumnWidths() const
{
    std::vector<TColumnWidth> columns;
    for (int column = 0; column < lvNotification->columnCount(); ++column) {
        columns.push_back({lvNotification->headerItem()->text(column).toStdString(),
                           lvNotification->columnWidth(column)});
    }
    return columns;
}

void TMainForm::ApplyColumnWidths(const std::vector<TColumnWidth>& columns)
{
    // A negative width cannot be shown; such a column keeps its design width.
    for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
        const std::int32_t width = columns[static_cast<std::size_t>(column)].Width;
        if (width >= 0)
            lvNotification->setColumnWidth(column, width);
    }
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    FormShow();
}

void TMainForm::FormShow()
{
    lvNotification->setFocus();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    FormCloseQuery(event);
}

void TMainForm::FormCloseQuery(QCloseEvent* event)
{
    SaveLayout(false);
    if (!ExitRequested) {
        event->ignore();
        // Without a tray the window must stay on the desktop: nothing else leads back to it.
        if (FTrayIconShown)
            hide();
        else
            showMinimized();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

void TMainForm::FormDestroy()
{
    if (MessagePreviewShown())
        NotificationHeight = ListPaneHeight();
    SaveLayout(true);
}

void TMainForm::SaveLayout(bool withPaneValues)
{
    // At the session's end one failure is enough: a second try would keep the session
    // waiting once more (for a lock held elsewhere, say).
    if (FSessionEnding && FSessionSaveFailed)
        return;
    try {
        TStoreUpdate update(FStore);
        if (withPaneValues) {
            SaveWindowSettings(FStore, NotificationHeight, ColumnWidths());
            SaveListSort(FStore, FMessageListLayout->Sort());
        }
        SavePlacement();
        update.Finish();
        FLastSaveError.clear();
    } catch (const std::exception& error) {
        // A store that cannot be written fails the same way at every hide; once is enough.
        const QString text = QString::fromStdString(error.what());
        if (FSessionEnding) {
            // Nobody is left to click a box away, and the session waits for the program.
            FSessionSaveFailed = true;
            if (text != FLastSaveError) {
                std::cerr << "mailbeacon: " << PrintableText(error.what()) << std::endl;
                AddLogEntry(text);
            }
        } else if (text != FLastSaveError) {
            FDialogs.ShowError(nullptr, text);
        }
        FLastSaveError = text;
    }
}

void TMainForm::SavePlacement()
{
    TWindowPlacement placement;
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    placement.NormalPosition = {normal.left(), normal.top(), normal.left() + normal.width(),
                                normal.top() + normal.height()};
    placement.MinPosition = {-1, -1};
    placement.MaxPosition = {-1, -1};
    if (isMinimized()) {
        placement.ShowCmd = ShowMinimized;
        placement.Flags = isMaximized() ? RestoreToMaximized : 0;
    } else {
        placement.ShowCmd = isMaximized() ? ShowMaximized : ShowNormal;
    }
    placement.PixelsPerInch = logicalDpiY();
    placement.Visible = isVisible();
    SaveWindowPlacement(FStore, placement);
}

// The stored size is taken only at the resolution it was saved at; a window that would lie off
// every screen is centred on the primary one instead. A minimised window comes back restored.
void TMainForm::LoadPlacement()
{
    const std::optional<TWindowPlacement> placement = LoadWindowPlacement(FStore);
    if (!placement)
        return;
    const TRect& stored = placement->NormalPosition;
    QRect normal(stored.Left, stored.Top, stored.Right - stored.Left, stored.Bottom - stored.Top);
    if (normal.width() <= 0 || normal.height() <= 0)
        return;
    if (placement->PixelsPerInch != logicalDpiY())
        normal.setSize(size());
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(normal);
    if (!onScreen) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            normal.moveCenter(screen->availableGeometry().center());
    }
    setGeometry(normal);
    const bool maximized =
        placement->ShowCmd == ShowMaximized ||
        (placement->ShowCmd == ShowMinimized && (placement->Flags & RestoreToMaximized) != 0);
    setWindowState(maximized ? Qt::WindowMaximized : Qt::WindowNoState);
    ApplyLayout();
}

// A hidden window lays out its children only when shown; the preview rule measures the panes
// before that, so the layouts are applied at once.
void TMainForm::ApplyLayout()
{
    layout()->activate();
    centralWidget()->layout()->activate();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lvNotification && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            PreviewCurrentRow();
            return true;
        }
    }
    if (event->type() == QEvent::Resize) {
        if (watched == pnlMainForm)
            FormResize();
        else if (watched == pnlheader)
            LayoutPreviewHeader();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormResize()
{
    if (MessagePreviewShown())
        LimitNotificationHeight();
    LayoutMainPanel();
}

bool TMainForm::MessagePreviewShown() const
{
    return !pnlMessage->isHidden();
}

int TMainForm::ListPaneHeight() const
{
    return pnlNotification->height();
}

void TMainForm::SetListPaneHeight(int height)
{
    pnlNotification->resize(pnlNotification->width(), std::max(height, MinListPaneHeight));
}

void TMainForm::LimitNotificationHeight()
{
    const int limit = pnlMainForm->height() - PreviewReserve;
    if (limit < splMessage->y())
        SetListPaneHeight(limit);
}

void TMainForm::LayoutMainPanel()
{
    const int width = pnlMainForm->width();
    const int height = pnlMainForm->height();
    if (!MessagePreviewShown()) {
        pnlNotification->setGeometry(0, 0, width, height);
        return;
    }
    const int listHeight = ListPaneHeight();
    pnlNotification->setGeometry(0, 0, width, listHeight);
    splMessage->setGeometry(0, listHeight, width, splMessage->height());
    const int previewTop = listHeight + splMessage->height();
    pnlMessage->setGeometry(0, previewTop, width, std::max(0, height - previewTop));
}

// The close button keeps to the top right corner; the title block ends just before it.
void TMainForm::LayoutPreviewHeader()
{
    const int closeLeft = pnlheader->width() - sbtnMessagePreviewClose->width() - 7;
    sbtnMessagePreviewClose->move(closeLeft, 3);
    pnlMessagePreviewTitle->setGeometry(0, 0, std::max(0, closeLeft - 5), HeaderHeight);
    LayoutMessagePreviewTitle();
}

// The values keep the widths of their texts while they fit before the close button, and share
// the room, cut with an ellipsis, when they do not.
void TMainForm::LayoutMessagePreviewTitle()
{
    const int right = pnlMessagePreviewTitle->width();
    LayOutTitleRow(lblFrom, lblToTitle, lblTo, 0, right);
    LayOutTitleRow(lblSubject, lblAttachmentsTitle, lblAttachments, 3, right);
}

void TMainForm::ShowMessagePreview()
{
    SetListPaneHeight(NotificationHeight);
    splMessage->show();
    pnlMessage->show();
    LimitNotificationHeight();
    LayoutMainPanel();
    LayoutPreviewHeader();
}

void TMainForm::HideMessagePreview()
{
    if (MessagePreviewShown())
        NotificationHeight = ListPaneHeight();
    FPreviewedRow.reset();
    lblFrom->clear();
    lblTo->clear();
    lblSubject->clear();
    lblAttachments->clear();
    memMessage->clear();
    pnlMessage->hide();
    splMessage->hide();
    LayoutMainPanel();
}

// While dragging, the list pane keeps its minimum and leaves the preview pane as much.
void TMainForm::splMessageDragged(int top)
{
    const int highest = pnlMainForm->height() - splMessage->height() - MinSplitterSpace;
    SetListPaneHeight(std::clamp(top, MinListPaneHeight, std::max(MinListPaneHeight, highest)));
    LayoutMainPanel();
}

void TMainForm::splMessageMoved()
{
    NotificationHeight = ListPaneHeight();
}

void TMainForm::sbtnMessagePreviewCloseClick()
{
    HideMessagePreview();
}

void TMainForm::lvNotificationDblClick()
{
    actViewMessagePreviewExecute();
}

void TMainForm::AddLogEntry(const QString& text)
{
    if (!FConfiguration->ApplicationSettings.Log)
        return;
    LogList.Add({DateTimeText(QDateTime::currentDateTime()), text});
}

void TMainForm::WirePOP3Status(const QString& text)
{
    AddLogEntry(text);
    SetStatusText(2, text);
    SetTrayHint(text);
}

int TMainForm::MessageCount() const
{
    return lvNotification->topLevelItemCount();
}

std::vector<TMessageRow> TMainForm::SelectedMessages() const
{
    std::vector<TMessageRow> rows;
    for (int index = 0; index < lvNotification->topLevelItemCount(); ++index) {
        QTreeWidgetItem* item = lvNotification->topLevelItem(index);
        const TMessageListItem* row = TMessageListItem::Of(item);
        if (item->isSelected() && row != nullptr && row->Account())
            rows.push_back(row->Row());
    }
    return rows;
}

namespace {

std::optional<std::pair<const TAccount*, std::string>> KeyOf(const TMessageRow& row)
{
    if (row.Uid.empty() || !row.Account)
        return std::nullopt;
    return std::make_pair(row.Account.get(), row.Uid);
}

} // namespace

void TMainForm::BeginCheck()
{
    Q_EMIT TrayAnimationChanged(false);
    FKeptPlace = {};
    for (int index = 0; index < lvNotification->topLevelItemCount(); ++index) {
        QTreeWidgetItem* item = lvNotification->topLevelItem(index);
        const TMessageListItem* row = TMessageListItem::Of(item);
        if (row == nullptr)
            continue;
        const auto key = KeyOf(row->Row());
        if (key && item->isSelected())
            FKeptPlace.Selected.insert(*key);
        if (key && item == lvNotification->currentItem())
            FKeptPlace.Current = key;
    }
    if (MessagePreviewShown() && FPreviewedRow && KeyOf(*FPreviewedRow))
        FKeptPlace.Previewed = KeyOf(*FPreviewedRow);
    else
        HideMessagePreview();
    FCheckItems.clear();
    lvNotification->clear();
    for (int panel = 0; panel < StatusPanelCount; ++panel)
        SetStatusText(panel, {});
}

void TMainForm::AddMessage(const TMessageRow& row)
{
    auto* item = new TMessageListItem(row);
    lvNotification->addTopLevelItem(item);
    FCheckItems.push_back(item);
    const auto key = KeyOf(row);
    if (!key)
        return;
    if (key == FKeptPlace.Previewed) {
        // The pane shows this message still; its number may have changed.
        FPreviewedRow = row;
        FPreviewFollower->Shown(row);
        FKeptPlace.PreviewListed = true;
    }
    if (key == FKeptPlace.Current)
        lvNotification->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    if (FKeptPlace.Selected.count(*key) != 0)
        item->setSelected(true);
}

void TMainForm::EndCheck(const std::vector<std::size_t>& newRows)
{
    for (const std::size_t index : newRows) {
        if (index >= FCheckItems.size())
            continue;
        QTreeWidgetItem* item = FCheckItems[index];
        if (lvNotification->indexOfTopLevelItem(item) < 0)
            continue;
        for (int column = 0; column < lvNotification->columnCount(); ++column) {
            QFont font = item->font(column);
            font.setBold(true);
            item->setFont(column, font);
        }
    }
    if (FKeptPlace.Previewed && !FKeptPlace.PreviewListed)
        HideMessagePreview();
    FKeptPlace = {};
    FCheckItems.clear();
}

void TMainForm::ShowPreview(const TMessagePreview& preview)
{
    ShowMessagePreview();
    FPreviewedRow = preview.Row;
    FPreviewFollower->Shown(preview.Row);
    lblFrom->setText(QString::fromStdString(preview.From));
    lblTo->setText(QString::fromStdString(preview.To));
    lblTo->setToolTip(QString::fromStdString(preview.ToHint));
    lblSubject->setText(QString::fromStdString(preview.Subject));
    const bool attachments = !preview.Attachments.empty();
    lblAttachments->setText(QString::fromStdString(preview.AttachmentsText));
    lblAttachments->setToolTip(QString::fromStdString(preview.AttachmentsHint));
    lblAttachmentsTitle->setVisible(attachments);
    lblAttachments->setVisible(attachments);
    LayoutMessagePreviewTitle();

    QStringList body;
    for (const std::string& line : preview.Body)
        body.append(QString::fromStdString(line));
    memMessage->clear();
    memMessage->setPlainText(body.join(u'\n'));
    QTextCursor caret = memMessage->textCursor();
    caret.movePosition(QTextCursor::Start);
    memMessage->setTextCursor(caret);
    memMessage->ensureCursorVisible();
}

bool TMainForm::ConfirmDeletion()
{
    return FDialogs.AskYesNo(this, QString::fromStdString(DeletionQuestion(SelectedMessages())));
}

// The sound plays only for a file that is there, and only while the list shows mail.
void TMainForm::AnnounceMail(const TMailNotice& notice)
{
    const TNotification& notification = FConfiguration->Notification;
    Q_EMIT TrayAnimationChanged(true);
    if (notification.DesktopNotification && notice.Count > 0)
        Notifier->Notify(DesktopNoticeOf(notice, !notification.MailClient.empty()));
    if (notification.StartClient)
        actNotificationStartMailClient->trigger();
    const QFileInfo sound(QString::fromStdString(notification.Sound));
    if (notification.PlaySound && !notification.Sound.empty() && sound.exists() && !sound.isDir() &&
        lvNotification->topLevelItemCount() > 0)
        Q_EMIT NotificationSoundRequested(sound.filePath());
}

bool TMainForm::IsOnline() const
{
    return FConnectionDetector.IsOnline(FConfiguration->Connection);
}

void TMainForm::ReportOffline()
{
    FCheckItems.clear();
    lvNotification->clear();
    SetStatusText(0, {});
    SetStatusText(1, {});
    const QString text =
        QStringLiteral("No Internet connection detected at ") + LongTimeText(QTime::currentTime());
    SetStatusText(2, text);
    SetTrayHint(text);
}

void TMainForm::actNotificationCheckNowExecute()
{
    FMailOperationsController->CheckNow();
}

void TMainForm::actViewMessagePreviewExecute()
{
    FMailOperationsController->PreviewMessage();
}

void TMainForm::actNotificationDeleteMessagesExecute()
{
    FMailOperationsController->DeleteSelected();
}

void TMainForm::actNotificationStopExecute()
{
    FMailOperationsController->Stop();
}

void TMainForm::actNotificationSelectAllExecute()
{
    lvNotification->selectAll();
}

void TMainForm::tmCheckMailTimer()
{
    actNotificationCheckNowExecute();
}

void TMainForm::tmOnlineDetectionTimer()
{
    if (!FCheckTimer->Enabled())
        return;
    if (!IsOnline()) {
        WasOnline = false;
    } else if (!WasOnline) {
        actNotificationCheckNowExecute();
        WasOnline = true;
    }
}

void TMainForm::TrayIconDblClick()
{
    switch (FConfiguration->ApplicationSettings.DoubleClick) {
    case TApplicationSettings::CheckMail:
        actNotificationCheckNowExecute();
        break;
    case TApplicationSettings::ShowMailbeacon:
        actFileOpenMailbeaconExecute();
        break;
    case TApplicationSettings::StartMailClient:
        actNotificationStartMailClientExecute();
        break;
    default:
        break;
    }
}

// Runs whatever the window's state: it does not wait for an operation under way, and a window
// hidden in the tray stays hidden.
void TMainForm::actNotificationStartMailClientExecute()
{
    StartMailClient(FConfiguration->Notification.MailClient, *FShell, [this] { hide(); });
}

void TMainForm::actFileOpenMailbeaconExecute()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    repaint();
}

void TMainForm::actFileCloseExecute()
{
    close();
}

void TMainForm::actFileExitExecute()
{
    ExitRequested = true;
    close();
}

void TMainForm::QueryEndSession()
{
    ExitRequested = true;
    FSessionEnding = true;
}

void TMainForm::actHelpOnlineHelpExecute()
{
    FShell->Open(QString::fromStdString(VendorUrl("/beaconer/support.php3")), {});
}

void TMainForm::actHelpHomePageExecute()
{
    FShell->Open(QString::fromStdString(VendorUrl("/")), {});
}

// Window frames are not known before a dialog is first shown, so both are measured by their
// client areas.
void TMainForm::PlaceDialog(QWidget* dialog) const
{
    const QRect main = geometry();
    const QSize size = dialog->size();
    dialog->setGeometry(main.left() + (main.width() - size.width()) / 2,
                        main.top() + (main.height() - size.height()) / 2, size.width(),
                        size.height());
}

// A log window that already exists is reused; one made for this opening goes when it closes.
void TMainForm::actViewActionLogExecute()
{
    const bool created = FLogForm.isNull();
    if (created)
        FLogForm = new TLogForm(FDialogs, this);
    FLogForm->AssignLog(LogList);
    PlaceDialog(FLogForm);
    FLogForm->exec();
    if (created)
        delete FLogForm;
}

void TMainForm::actViewSettingsExecute()
{
    OpenAccountSettings({});
}

// The dialog brings the configuration, the check timer and the store up to date itself. One
// that is already open is brought to the front instead of a second one.
void TMainForm::OpenAccountSettings(const QString& account)
{
    if (!FSettingsForm.isNull()) {
        if (!account.isEmpty())
            FSettingsForm->ShowAccount(account);
        FSettingsForm->raise();
        FSettingsForm->activateWindow();
        return;
    }
    FSettingsForm = new TSettingsForm(FStore, FDialogs, TStartupShortcut(), this);
    FSettingsForm->AttachConfiguration(*FConfiguration);
    if (!account.isEmpty())
        FSettingsForm->ShowAccount(account);
    PlaceDialog(FSettingsForm);
    FSettingsForm->exec();
    delete FSettingsForm;
    // The mail client may have been set or cleared.
    UpdateActions();
}

// A version window made for this opening goes when it closes, so each opening checks once.
void TMainForm::actHelpCheckForNewVersionExecute()
{
    const bool created = FVersionForm.isNull();
    if (created)
        FVersionForm = new TVersionForm(FShell, this);
    FVersionForm->AssignOptions(*FConfiguration, FConnectionDetector);
    PlaceDialog(FVersionForm);
    FVersionForm->exec();
    if (created)
        delete FVersionForm;
}

void TMainForm::actHelpAboutMailbeaconExecute()
{
    const bool created = FAboutForm.isNull();
    if (created)
        FAboutForm = new TAboutForm(FShell, this);
    PlaceDialog(FAboutForm);
    FAboutForm->exec();
    if (created)
        delete FAboutForm;
}
