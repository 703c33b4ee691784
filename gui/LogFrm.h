#pragma once

#include "gui/Dialogs.h"

#include <QDialog>

class QFrame;
class QPushButton;
class QTreeWidget;
class TLogList;

// The action log window: a snapshot of the log as a table, and Clear, Save and Close.
class TLogForm : public QDialog
{
    Q_OBJECT

public:
    explicit TLogForm(TDialogs dialogs, QWidget* parent = nullptr);

    // Keeps a reference to the log (Clear and Save act on it, not on a copy) and shows it.
    void AssignLog(TLogList& list);
    void FillLogView();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void btnClearClick();
    void btnSaveClick();
    void btnCloseClick();
    // Writes every entry of the log; the system's text for the failure, or an empty text.
    QString WriteLog(const QString& fileName) const;

    TDialogs FDialogs;
    TLogList* FLogList = nullptr;

    QFrame* pnlTopSpacer;
    QFrame* pnlLog;
    QTreeWidget* lvLog;
    QFrame* pnlBottom;
    QFrame* bvlBottom;
    QPushButton* btnClear;
    QPushButton* btnSave;
    QPushButton* btnClose;
};
