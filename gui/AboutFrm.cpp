#include "gui/AboutFrm.h"

#include "desktop/Icons.h"
#include "gui/Controls.h"
#include "gui/LinkLabel.h"
#include "net/VendorHost.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr int BorderWidth = 5;
constexpr int ClientWidth = 292;
constexpr int ClientHeight = 173;
constexpr int AboutHeight = 128;
constexpr int BottomHeight = 45;
constexpr int TextLeft = 60;

QFont SizedFont(const QFont& base, int pointSize, bool bold)
{
    QFont font = base;
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

// The texts of the about panel start in one column below each other.
template <class TLabel> TLabel* Place(TLabel* label, const QFont& font, int top)
{
    label->setFont(font);
    label->move(TextLeft, top);
    label->adjustSize();
    return label;
}

} // namespace

TAboutForm::TAboutForm(std::shared_ptr<IShellOpen> shell, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("Mailbeacon 2.0"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    layout->setSpacing(0);

    pnlAbout = Controls::Panel("pnlAbout", this);
    pnlAbout->setFixedHeight(AboutHeight);
    imgLogo = Controls::Named(new QLabel(pnlAbout), "imgLogo");
    imgLogo->setGeometry(8, 8, 32, 32);
    imgLogo->setPixmap(Icons::ProgramIcon().pixmap(32, 32));

    const QFont text = SizedFont(font(), 10, false);
    lblMailbeacon = Place(Controls::Label("lblMailbeacon", QStringLiteral("Mailbeacon"), pnlAbout),
                          SizedFont(font(), 12, true), 8);
    lblVersion =
        Place(Controls::Label("lblVersion", QStringLiteral("Version 2.0"), pnlAbout), text, 32);
    lblCopyright =
        Place(Controls::Label("lblCopyright", QStringLiteral("Copyright \u00a9 2000 Hollinway"),
                              pnlAbout),
              text, 56);
    const QString host = QString::fromStdString(VendorHost());
    ShellLinkURL =
        Place(Controls::Link("ShellLinkURL", host, QString::fromStdString(VendorUrl("/")), text,
                             shell, pnlAbout),
              text, 80);
    const QString support = QString::fromStdString(SupportAddress());
    ShellLinkSupport =
        Place(Controls::Link("ShellLinkSupport", support, QStringLiteral("mailto:") + support, text,
                             shell, pnlAbout),
              text, 105);
    layout->addWidget(pnlAbout);
    layout->addStretch(1);

    pnlBottom = Controls::Panel("pnlBottom", this);
    pnlBottom->setFixedHeight(BottomHeight);
    bvlBottom = Controls::Bevel("bvlBottom", pnlBottom);
    btnClose = Controls::Button("btnClose", QStringLiteral("Close"), pnlBottom);
    // The only button: Enter presses it wherever the focus is.
    btnClose->setAutoDefault(true);
    btnClose->setDefault(true);
    auto* bottomLayout = new QVBoxLayout(pnlBottom);
    bottomLayout->setContentsMargins(0, 0, 2, 2);
    bottomLayout->setSpacing(0);
    bottomLayout->addWidget(bvlBottom);
    bottomLayout->addStretch(1);
    bottomLayout->addWidget(btnClose, 0, Qt::AlignRight);
    layout->addWidget(pnlBottom);

    // The design size, or wider where a text in the desktop's font needs it.
    int width = ClientWidth;
    for (const QLabel* label :
         {lblMailbeacon, lblVersion, lblCopyright, static_cast<QLabel*>(ShellLinkURL),
          static_cast<QLabel*>(ShellLinkSupport)})
        width = std::max(width, label->geometry().right() + 1 + 8);
    setFixedSize(width + 2 * BorderWidth, ClientHeight + 2 * BorderWidth);

    connect(btnClose, &QPushButton::clicked, this, &TAboutForm::btnCloseClick);
}

void TAboutForm::btnCloseClick()
{
    close();
}
