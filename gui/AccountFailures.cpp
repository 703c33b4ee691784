#include "gui/AccountFailures.h"

#include "gui/Controls.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QString FailedCountText(std::size_t count)
{
    return count == 1 ? QObject::tr("1 account failed")
                      : QObject::tr("%1 accounts failed").arg(count);
}

} // namespace

TFailedAccountsBar::TFailedAccountsBar(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("pnlFailedAccounts"));
    // A tint of red over the window's own colour reads as a warning in light and dark themes.
    setStyleSheet(QStringLiteral("#pnlFailedAccounts { background: rgba(220, 40, 40, 38); "
                                 "border: 1px solid rgba(200, 30, 30, 150); }"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 4, 4);

    auto* icon = Controls::Label("imgFailedAccounts", {}, this);
    const int size = style()->pixelMetric(QStyle::PM_SmallIconSize);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    lblFailedAccountsTitle = Controls::Label("lblFailedAccountsTitle", {}, this);
    QFont bold = lblFailedAccountsTitle->font();
    bold.setBold(true);
    lblFailedAccountsTitle->setFont(bold);
    column->addWidget(lblFailedAccountsTitle);
    FRows = new QGridLayout;
    FRows->setHorizontalSpacing(8);
    FRows->setVerticalSpacing(2);
    FRows->setColumnStretch(1, 1);
    column->addLayout(FRows);
    layout->addLayout(column, 1);

    sbtnFailedAccountsClose = Controls::Named(new QToolButton(this), "sbtnFailedAccountsClose");
    sbtnFailedAccountsClose->setAutoRaise(true);
    sbtnFailedAccountsClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    sbtnFailedAccountsClose->setToolTip(tr("Close this message"));
    layout->addWidget(sbtnFailedAccountsClose, 0, Qt::AlignTop);
    connect(sbtnFailedAccountsClose, &QToolButton::clicked, this, &TFailedAccountsBar::Dismiss);
    hide();
}

void TFailedAccountsBar::ClearRows()
{
    while (QLayoutItem* item = FRows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

void TFailedAccountsBar::SetFailures(const std::vector<TAccountFailure>& failures)
{
    FFailures = failures;
    ClearRows();
    if (failures.empty() || failures == FDismissed) {
        if (failures.empty())
            FDismissed.clear();
        hide();
        return;
    }
    FDismissed.clear();
    lblFailedAccountsTitle->setText(
        tr("The last check could not read %1:")
            .arg(failures.size() == 1 ? tr("1 account") : tr("%1 accounts").arg(failures.size())));
    const int shown = std::min(static_cast<int>(failures.size()), MaxRows);
    for (int row = 0; row < shown; ++row) {
        const TAccountFailure& failure = failures[static_cast<std::size_t>(row)];
        QLabel* name = Controls::Label("lblFailedAccount", Text(failure.Account), this);
        name->setFont(lblFailedAccountsTitle->font());
        QLabel* reason = Controls::Note("lblFailureReason", Text(failure.Reason), this);
        reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPushButton* settings =
            Controls::Button("btnAccountSettings", tr("Account Settings..."), this);
        settings->setProperty("Account", Text(failure.Account));
        settings->setToolTip(tr("Open the settings of %1").arg(Text(failure.Account)));
        connect(settings, &QPushButton::clicked, this, [this, account = Text(failure.Account)] {
            Q_EMIT AccountSettingsRequested(account);
        });
        FRows->addWidget(name, row, 0, Qt::AlignTop);
        FRows->addWidget(reason, row, 1);
        FRows->addWidget(settings, row, 2, Qt::AlignTop);
    }
    if (static_cast<int>(failures.size()) > shown) {
        const auto more = failures.size() - static_cast<std::size_t>(shown);
        FRows->addWidget(Controls::Label("lblFailedAccountsMore",
                                         more == 1 ? tr("and 1 more account")
                                                   : tr("and %1 more accounts").arg(more),
                                         this),
                         shown, 0, 1, 3);
    }
    show();
}

void TFailedAccountsBar::Dismiss()
{
    FDismissed = FFailures;
    hide();
}

// Names are dropped from the end until the hint fits; a single name too long for the hint is
// cut, and without room even for that the hint only counts the accounts.
QString FailedAccountsHint(const QString& summary, const std::vector<TAccountFailure>& failures,
                           int maxLength)
{
    if (failures.empty())
        return summary;
    const QString counted = summary + QStringLiteral(" \u2014 ") + FailedCountText(failures.size());
    QStringList names;
    for (const TAccountFailure& failure : failures)
        names.append(Text(failure.Account));
    for (qsizetype count = names.size(); count >= 1; --count) {
        QString hint =
            counted + QStringLiteral(": ") + names.mid(0, count).join(QStringLiteral(", "));
        if (count < names.size())
            hint += QStringLiteral(", \u2026");
        if (hint.size() <= maxLength)
            return hint;
    }
    const QString start = counted + QStringLiteral(": ");
    const qsizetype room = maxLength - start.size() - 1;
    if (room >= 3)
        return start + names.front().left(room) + QStringLiteral("\u2026");
    return counted;
}
