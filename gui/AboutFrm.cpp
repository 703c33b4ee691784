#include "gui/AboutFrm.h"

#include "gui/LinkLabel.h"

#include "desktop/Icons.h"
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

QLabel* MakeLabel(const char* name, const QString& text, const QFont& font, int top,
                  QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->move(TextLeft, top);
    label->adjustSize();
    return label;
}

// A link in the window's text colour that turns blue and underlined under the mouse.
TShellLink* MakeLink(const char* name, const QString& text, const QString& link, const QFont& font,
                     int top, const std::shared_ptr<IShellOpen>& shell, QWidget* parent)
{
    auto* label = new TShellLink(shell, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setText(text);
    label->setFont(font);
    QFont focusFont = font;
    focusFont.setUnderline(true);
    label->SetFocusFont(focusFont);
    label->SetFocusColor(QColor(0, 0, 255));
    label->SetLink(link);
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

    pnlAbout = new QFrame(this);
    pnlAbout->setObjectName(QStringLiteral("pnlAbout"));
    pnlAbout->setFixedHeight(AboutHeight);
    imgLogo = new QLabel(pnlAbout);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setGeometry(8, 8, 32, 32);
    imgLogo->setPixmap(Icons::ProgramIcon().pixmap(32, 32));

    const QFont text = SizedFont(font(), 10, false);
    lblMailbeacon = MakeLabel("lblMailbeacon", QStringLiteral("Mailbeacon"),
                              SizedFont(font(), 12, true), 8, pnlAbout);
    lblVersion = MakeLabel("lblVersion", QStringLiteral("Version 2.0"), text, 32, pnlAbout);
    lblCopyright = MakeLabel("lblCopyright", QStringLiteral("Copyright \u00a9 2000 Hollinway"),
                             text, 56, pnlAbout);
    const QString host = QString::fromStdString(VendorHost());
    ShellLinkURL = MakeLink("ShellLinkURL", host, QString::fromStdString(VendorUrl("/")), text, 80,
                            shell, pnlAbout);
    const QString support = QString::fromStdString(SupportAddress());
    ShellLinkSupport = MakeLink("ShellLinkSupport", support, QStringLiteral("mailto:") + support,
                                text, 105, shell, pnlAbout);
    layout->addWidget(pnlAbout);
    layout->addStretch(1);

    pnlBottom = new QFrame(this);
    pnlBottom->setObjectName(QStringLiteral("pnlBottom"));
    pnlBottom->setFixedHeight(BottomHeight);
    bvlBottom = new QFrame(pnlBottom);
    bvlBottom->setObjectName(QStringLiteral("bvlBottom"));
    bvlBottom->setFrameShape(QFrame::HLine);
    bvlBottom->setFrameShadow(QFrame::Sunken);
    btnClose = new QPushButton(QStringLiteral("Close"), pnlBottom);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setMinimumSize(75, 25);
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
