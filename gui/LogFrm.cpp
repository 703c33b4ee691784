#include "gui/LogFrm.h"

#include "desktop/LocalTime.h"
#include "gui/Controls.h"
#include "gui/LogList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

constexpr int BorderWidth = 5;
constexpr int ClientWidth = 407;
constexpr int ClientHeight = 238;
constexpr int ButtonGap = 10;

// The name Save proposes: the day's date, in the user's documents folder.
QString ProposedLogFile()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return QDir(folder).filePath(
        QStringLiteral("mailbeacon-%1.log").arg(QDate::currentDate().toString(Qt::ISODate)));
}

} // namespace

TLogForm::TLogForm(TDialogs dialogs, QWidget* parent)
    : QDialog(parent)
    , FDialogs(std::move(dialogs))
{
    setObjectName(QStringLiteral("LogForm"));
    setWindowTitle(QStringLiteral("Mailbeacon 2.0 - Action Log"));
    // The design size is the smallest; a larger window gives the table the room, and the
    // buttons keep to the bottom right corner.
    setMinimumSize(ClientWidth + 2 * BorderWidth, ClientHeight + 2 * BorderWidth);
    resize(minimumSize());
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    layout->setSpacing(0);

    pnlTopSpacer = Controls::Panel("pnlTopSpacer", this);
    pnlTopSpacer->setFixedHeight(3);
    layout->addWidget(pnlTopSpacer);

    pnlLog = Controls::Panel("pnlLog", this);
    auto* logLayout = new QVBoxLayout(pnlLog);
    logLayout->setContentsMargins(0, 0, 0, 0);
    lvLog = Controls::Named(new QTreeWidget(pnlLog), "lvLog");
    lvLog->setColumnCount(2);
    lvLog->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Action")});
    lvLog->setRootIsDecorated(false);
    lvLog->setUniformRowHeights(true);
    lvLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvLog->setSelectionMode(QAbstractItemView::SingleSelection);
    lvLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvLog->header()->setSectionsClickable(false);
    // The time column is as wide as the user's date and time format needs, and the action
    // column takes the rest.
    const QString widestTime = DateTimeText(QDateTime(QDate(2000, 12, 28), QTime(23, 59, 59)));
    lvLog->setColumnWidth(0,
                          std::max(125, lvLog->fontMetrics().horizontalAdvance(widestTime) + 16));
    lvLog->setColumnWidth(1, 260);
    lvLog->header()->setStretchLastSection(true);
    logLayout->addWidget(lvLog);
    layout->addWidget(pnlLog, 1);

    pnlBottom = Controls::Panel("pnlBottom", this);
    pnlBottom->setFixedHeight(45);
    auto* bottomLayout = new QVBoxLayout(pnlBottom);
    bottomLayout->setContentsMargins(0, 0, 0, 2);
    bottomLayout->setSpacing(0);
    bvlBottom = Controls::Bevel("bvlBottom", pnlBottom);
    bvlBottom->setFixedHeight(9);
    bottomLayout->addWidget(bvlBottom);
    bottomLayout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(ButtonGap);
    buttons->addStretch(1);
    btnClear = Controls::Button("btnClear", QStringLiteral("Clear"), pnlBottom);
    btnSave = Controls::Button("btnSave", QStringLiteral("Save"), pnlBottom);
    btnClose = Controls::Button("btnClose", QStringLiteral("Close"), pnlBottom);
    for (QPushButton* button : {btnClear, btnSave, btnClose})
        buttons->addWidget(button);
    bottomLayout->addLayout(buttons);
    layout->addWidget(pnlBottom);

    connect(btnClear, &QPushButton::clicked, this, &TLogForm::btnClearClick);
    connect(btnSave, &QPushButton::clicked, this, &TLogForm::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &TLogForm::btnCloseClick);
}

void TLogForm::AssignLog(TLogList& list)
{
    FLogList = &list;
    FillLogView();
}

void TLogForm::FillLogView()
{
    lvLog->clear();
    if (FLogList == nullptr)
        return;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(FLogList->Count()));
    for (const TLogItem& item : *FLogList)
        rows.append(new QTreeWidgetItem(QStringList{item.Time, item.Action}));
    lvLog->addTopLevelItems(rows);
}

void TLogForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

// Save and Clear are decided once, on showing, from the rows on screen; only Clear changes
// them afterwards.
void TLogForm::FormShow()
{
    const bool hasRows = lvLog->topLevelItemCount() > 0;
    btnClear->setEnabled(hasRows);
    btnSave->setEnabled(hasRows);
    btnClose->setEnabled(true);
}

void TLogForm::btnCloseClick()
{
    close();
}

void TLogForm::btnClearClick()
{
    lvLog->clear();
    if (FLogList != nullptr)
        FLogList->Clear();
    btnClear->setEnabled(false);
    btnSave->setEnabled(false);
}

void TLogForm::btnSaveClick()
{
    const QString fileName = FDialogs.GetSaveFileName(
        this, QStringLiteral("Save Action Log"), ProposedLogFile(),
        QStringLiteral("Log files (*.log *.LOG);;Text files (*.txt *.TXT)"));
    if (fileName.isEmpty())
        return;
    const QString failure = WriteLog(fileName);
    if (!failure.isEmpty()) {
        FDialogs.ShowError(this, QStringLiteral("The action log could not be saved to \"%1\": %2.")
                                     .arg(QDir::toNativeSeparators(fileName), failure));
    }
}

// The lines come from the log itself, which may hold entries added since the window opened.
QString TLogForm::WriteLog(const QString& fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file.errorString();
    if (FLogList != nullptr) {
        for (const TLogItem& item : *FLogList) {
            const QByteArray line =
                (item.Time + QStringLiteral("   ") + item.Action).toUtf8() + "\r\n";
            if (file.write(line) != line.size())
                return file.errorString();
        }
    }
    if (!file.flush())
        return file.errorString();
    file.close();
    return {};
}
