#pragma once

#include "mail/CheckOutcome.h"

#include <QFrame>
#include <QString>

#include <vector>

class QGridLayout;
class QLabel;
class QToolButton;

// The bar above the message list that names the accounts the last check could not read, each
// with its reason and a button to its settings. The user may close it; it stays closed until a
// check fails otherwise.
class TFailedAccountsBar : public QFrame
{
    Q_OBJECT

public:
    // More failed accounts than this are summed up in one line.
    static constexpr int MaxRows = 5;

    explicit TFailedAccountsBar(QWidget* parent = nullptr);

    // Shows the failures of the check that just ended; hides the bar when there are none.
    void SetFailures(const std::vector<TAccountFailure>& failures);
    const std::vector<TAccountFailure>& Failures() const { return FFailures; }
    // Closes the bar, as its close button does.
    void Dismiss();

    QLabel* lblFailedAccountsTitle;
    QToolButton* sbtnFailedAccountsClose;

Q_SIGNALS:
    // The user asked for the settings page of the account of that name.
    void AccountSettingsRequested(const QString& account);

private:
    void ClearRows();

    QGridLayout* FRows;
    std::vector<TAccountFailure> FFailures;
    // The failures the user closed the bar on; the same again keep it closed.
    std::vector<TAccountFailure> FDismissed;
};

// The tray hint after a check: the summary, then which accounts failed, as many names as fit
// within maxLength ("Total: 5, New: 1 at 10:02 — 1 account failed: Home").
QString FailedAccountsHint(const QString& summary, const std::vector<TAccountFailure>& failures,
                           int maxLength);
