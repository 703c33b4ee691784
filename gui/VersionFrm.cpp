#include "gui/VersionFrm.h"

#include "config/Data.h"
#include "desktop/ShellOpen.h"
#include "gui/Controls.h"
#include "net/HttpClient.h"
#include "net/VendorHost.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

// Where a worker hands its result: the window while it exists, nobody once it has gone. The
// worker delivers under the lock and the window's destructor clears Deliver under it, so the
// window cannot go between the look and the delivery; a delivery still queued then is dropped
// with the window's pending events.
struct TVersionCheckChannel
{
    std::mutex Mutex;
    std::function<void(TVersionCheckResult)> Deliver;
};

namespace {

constexpr int BorderWidth = 5;
constexpr int ClientWidth = 292;
constexpr int ClientHeight = 173;
constexpr int GroupWidth = 141;
constexpr int GroupHeight = 95;
constexpr int PanelWidth = 70;
constexpr int PanelHeight = 20;
constexpr int BottomHeight = 45;
// A version or a date is a few characters; an error page may put a megabyte on one line.
constexpr int MaxPanelText = 256;

// A sunken panel showing one value; what the server sent is shown as text, never as markup.
QLabel* MakeValuePanel(const char* name, const QString& text, QWidget* parent)
{
    QLabel* panel = Controls::Label(name, text, parent);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignCenter);
    // Wide enough for a date like the installed one in the desktop's font.
    const int dateWidth = panel->fontMetrics().horizontalAdvance(QStringLiteral("Jun 13 2000 "));
    panel->setMinimumSize(std::max(PanelWidth, dateWidth + 16), PanelHeight);
    panel->setContentsMargins(6, 1, 6, 1);
    // A long text is clipped; it never widens the panel out of its group.
    panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return panel;
}

// A group of two rows, a label and a value panel each, filled by AddRow.
QGroupBox* MakeGroup(const char* name, const QString& caption, QWidget* parent)
{
    auto* group = Controls::Named(new QGroupBox(caption, parent), name);
    group->setMinimumSize(GroupWidth, GroupHeight);
    auto* layout = new QGridLayout(group);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->setHorizontalSpacing(12);
    layout->setVerticalSpacing(10);
    layout->setColumnStretch(1, 1);
    return group;
}

void AddRow(QGroupBox* group, int row, QLabel* label, QLabel* panel)
{
    auto* layout = static_cast<QGridLayout*>(group->layout());
    layout->addWidget(label, row, 0);
    layout->addWidget(panel, row, 1);
}

QString PanelText(const std::string& line)
{
    QString text = QString::fromStdString(line);
    if (text.size() > MaxPanelText)
        text = text.left(MaxPanelText) + QChar(0x2026);
    return text;
}

} // namespace

bool IsDownloadPageAddress(const QString& text)
{
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

TVersionForm::TVersionForm(std::shared_ptr<IShellOpen> shell, QWidget* parent)
    : QDialog(parent)
    , SimpleHTTP(std::make_shared<TSimpleHTTP>())
    , FShell(shell ? std::move(shell) : std::make_shared<TShellOpen>())
    , FChannel(std::make_shared<TVersionCheckChannel>())
{
    setObjectName(QStringLiteral("VersionForm"));
    setWindowTitle(QStringLiteral("Mailbeacon 2.0 - Version Check"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    layout->setSpacing(0);

    pnlVersion = Controls::Panel("pnlVersion", this);
    gbInstalled = MakeGroup("gbInstalled", QStringLiteral("Installed"), pnlVersion);
    lblInstalledVersion =
        Controls::Label("lblInstalledVersion", QStringLiteral("Version"), gbInstalled);
    pnlInstalledVersion =
        MakeValuePanel("pnlInstalledVersion", QString::fromLatin1(InstalledVersion), gbInstalled);
    lblInstalledDate = Controls::Label("lblInstalledDate", QStringLiteral("Date"), gbInstalled);
    pnlInstalledDate =
        MakeValuePanel("pnlInstalledDate", QString::fromLatin1(InstalledDate), gbInstalled);
    AddRow(gbInstalled, 0, lblInstalledVersion, pnlInstalledVersion);
    AddRow(gbInstalled, 1, lblInstalledDate, pnlInstalledDate);

    gbLatest = MakeGroup("gbLatest", QStringLiteral("Latest"), pnlVersion);
    lblLatestVersion = Controls::Label("lblLatestVersion", QStringLiteral("Version"), gbLatest);
    pnlLatestVersion = MakeValuePanel("pnlLatestVersion", QString(), gbLatest);
    lblLatestDate = Controls::Label("lblLatestDate", QStringLiteral("Date"), gbLatest);
    pnlLatestDate = MakeValuePanel("pnlLatestDate", QString(), gbLatest);
    AddRow(gbLatest, 0, lblLatestVersion, pnlLatestVersion);
    AddRow(gbLatest, 1, lblLatestDate, pnlLatestDate);

    pnlStatus = MakeValuePanel("pnlStatus", QString(), pnlVersion);
    pnlStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* versionLayout = new QGridLayout(pnlVersion);
    versionLayout->setContentsMargins(0, 0, 0, 3);
    versionLayout->setHorizontalSpacing(10);
    versionLayout->setVerticalSpacing(10);
    versionLayout->addWidget(gbInstalled, 0, 0);
    versionLayout->addWidget(gbLatest, 0, 1);
    versionLayout->addWidget(pnlStatus, 1, 0, 1, 2);
    layout->addWidget(pnlVersion, 1);

    pnlBottom = Controls::Panel("pnlBottom", this);
    pnlBottom->setFixedHeight(BottomHeight);
    bvlBottom = Controls::Bevel("bvlBottom", pnlBottom);
    btnUpdate = Controls::Button("btnUpdate", QStringLiteral("Update"), pnlBottom);
    btnUpdate->setEnabled(false);
    btnClose = Controls::Button("btnClose", QStringLiteral("Close"), pnlBottom);
    btnClose->setDefault(true);
    auto* bottomLayout = new QVBoxLayout(pnlBottom);
    bottomLayout->setContentsMargins(0, 0, 2, 2);
    bottomLayout->setSpacing(0);
    bottomLayout->addWidget(bvlBottom);
    bottomLayout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    buttons->addWidget(btnUpdate);
    buttons->addWidget(btnClose);
    bottomLayout->addLayout(buttons);
    layout->addWidget(pnlBottom);

    // The design size, or more where the desktop's font needs it.
    const QSize content = layout->sizeHint();
    setFixedSize(std::max(content.width(), ClientWidth + 2 * BorderWidth),
                 std::max(content.height(), ClientHeight + 2 * BorderWidth));

    // The client's design settings, with a direct connection until AssignOptions names a proxy.
    ConfigureVersionHTTP(*SimpleHTTP, TConnection());

    connect(btnUpdate, &QPushButton::clicked, this, &TVersionForm::btnUpdateClick);
    connect(btnClose, &QPushButton::clicked, this, &TVersionForm::btnCloseClick);

    FChannel->Deliver = [this](TVersionCheckResult result) {
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)] { ApplyVersionCheck(result); },
            Qt::QueuedConnection);
    };
}

TVersionForm::~TVersionForm()
{
    {
        std::lock_guard lock(FChannel->Mutex);
        FChannel->Deliver = nullptr;
    }
    CancelCheck();
}

void TVersionForm::AssignOptions(TConfiguration& configuration,
                                 const TConnectionDetector& connectionDetector)
{
    FConfiguration = &configuration;
    FConnectionDetector = connectionDetector;
    if (!Checking)
        ConfigureVersionHTTP(*SimpleHTTP, configuration.Connection);
}

void TVersionForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

// Offline the window shows only the installed version; a window checks at most once.
void TVersionForm::FormShow()
{
    if (FConfiguration == nullptr || Checking || Checked)
        return;
    if (FConnectionDetector.IsOnline(FConfiguration->Connection))
        CheckVersion();
}

void TVersionForm::CheckVersion()
{
    if (Checking)
        return;
    Checking = true;
    const std::string host = VendorHost();
    pnlStatus->setText(QString::fromStdString(VersionConnectingText(host)));
    pnlStatus->setToolTip(QString());

    // Everything the worker needs is copied now; it shares only the client and the channel.
    const std::string separator = QLocale().decimalPoint().toStdString();
    std::shared_ptr<TSimpleHTTP> http = SimpleHTTP;
    std::shared_ptr<TVersionCheckChannel> channel = FChannel;
    try {
        std::thread([http, host, separator, channel] {
            TVersionCheckResult result = RunVersionCheck(*http, host, separator);
            std::lock_guard lock(channel->Mutex);
            if (channel->Deliver)
                channel->Deliver(std::move(result));
        }).detach();
    } catch (const std::system_error& error) {
        TVersionCheckResult result;
        result.StatusText = VersionErrorText(host);
        result.Error = error.what();
        ApplyVersionCheck(result);
    }
}

// The lines read are shown even when the check failed after them; Update is enabled only for a
// newer version whose download page is a web address.
void TVersionForm::ApplyVersionCheck(const TVersionCheckResult& result)
{
    if (result.LatestVersion)
        pnlLatestVersion->setText(PanelText(*result.LatestVersion));
    if (result.LatestDate)
        pnlLatestDate->setText(PanelText(*result.LatestDate));
    if (result.UpdateURL)
        UpdateURL = QString::fromStdString(*result.UpdateURL);
    if (result.Succeeded && result.UpdateAvailable && IsDownloadPageAddress(UpdateURL))
        btnUpdate->setEnabled(true);
    pnlStatus->setText(QString::fromStdString(result.StatusText));
    // The one status text names no cause; the tooltip does, for whoever wants to know.
    pnlStatus->setToolTip(QString::fromStdString(result.Error));
    Checking = false;
    Checked = true;
}

void TVersionForm::btnUpdateClick()
{
    if (IsDownloadPageAddress(UpdateURL))
        FShell->Open(UpdateURL, {});
}

void TVersionForm::btnCloseClick()
{
    close();
}

void TVersionForm::done(int result)
{
    CancelCheck();
    QDialog::done(result);
}

// The worker's request ends at once; its result, an error, still reaches a window that is
// only hidden.
void TVersionForm::CancelCheck()
{
    if (Checking)
        SimpleHTTP->Cancel();
}
