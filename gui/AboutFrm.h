#pragma once

#include <QDialog>

#include <memory>

class IShellOpen;
class QFrame;
class QLabel;
class QPushButton;
class TShellLink;

// The About box: the program's name, version and notice, and links to the vendor's web site
// and support address.
class TAboutForm : public QDialog
{
    Q_OBJECT

public:
    // shell opens the links (the desktop's own when empty).
    explicit TAboutForm(std::shared_ptr<IShellOpen> shell = {}, QWidget* parent = nullptr);

    QFrame* pnlAbout;
    QLabel* imgLogo;
    QLabel* lblMailbeacon;
    QLabel* lblVersion;
    QLabel* lblCopyright;
    TShellLink* ShellLinkURL;
    TShellLink* ShellLinkSupport;
    QFrame* pnlBottom;
    QFrame* bvlBottom;
    QPushButton* btnClose;

private:
    void btnCloseClick();
};
