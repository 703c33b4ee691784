#pragma once

#include "net/ConnectionDetector.h"
#include "net/VersionFile.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <string>

class IShellOpen;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class TSimpleHTTP;
struct TConfiguration;
struct TVersionCheckChannel;

// The version window: compares the installed version with the latest one on the vendor's web
// server and opens the download page of a newer one. The request runs on a worker thread, so
// the window answers the user while the server is slow or silent.
class TVersionForm : public QDialog
{
    Q_OBJECT

public:
    // shell opens the download page (the desktop's own when empty).
    explicit TVersionForm(std::shared_ptr<IShellOpen> shell = {}, QWidget* parent = nullptr);
    ~TVersionForm() override;

    // Keeps a reference to the configuration, whose connection decides with connectionDetector
    // whether showing the window checks, and sets the request's proxy from it. The client of a
    // check under way is left alone: the worker has it.
    void AssignOptions(TConfiguration& configuration,
                       const TConnectionDetector& connectionDetector);
    // Shows "Connecting to " + host at once and starts the request on a worker thread; the
    // result is applied here, on the GUI thread, when it arrives. Does nothing while a check
    // runs.
    void CheckVersion();

    bool Checking = false;
    bool Checked = false;
    // Line 3 of the version file read last; empty until then.
    QString UpdateURL;
    // Shared with the worker while a request runs, so that closing the window can cancel it
    // and the worker never uses a client that has gone.
    std::shared_ptr<TSimpleHTTP> SimpleHTTP;

    QFrame* pnlVersion;
    QGroupBox* gbInstalled;
    QLabel* lblInstalledVersion;
    QLabel* pnlInstalledVersion;
    QLabel* lblInstalledDate;
    QLabel* pnlInstalledDate;
    QGroupBox* gbLatest;
    QLabel* lblLatestVersion;
    QLabel* pnlLatestVersion;
    QLabel* lblLatestDate;
    QLabel* pnlLatestDate;
    QLabel* pnlStatus;
    QFrame* pnlBottom;
    QFrame* bvlBottom;
    QPushButton* btnUpdate;
    QPushButton* btnClose;

public Q_SLOTS:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void btnUpdateClick();
    void btnCloseClick();
    void ApplyVersionCheck(const TVersionCheckResult& result);
    void CancelCheck();

    std::shared_ptr<IShellOpen> FShell;
    TConfiguration* FConfiguration = nullptr;
    TConnectionDetector FConnectionDetector;
    std::shared_ptr<TVersionCheckChannel> FChannel;
};

// Whether text is an address the Update button may hand to the desktop: an http or https
// address with a host. The version file comes from the network, and the desktop's open service
// would start a program named by anything else.
bool IsDownloadPageAddress(const QString& text);
