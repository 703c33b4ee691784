// The message list as it fits its window and sorts, and the preview pane as it follows the
// selection and cuts long texts.
#include "gui/ElidingLabel.h"
#include "gui/MailView.h"
#include "gui/MessageListLayout.h"
#include "gui/PreviewFollower.h"
#include "mail/MailPreview.h"
#include "pop3/Util.h"
#include "pop3/WireMessage.h"
#include "tests/support/FakeMailbox.h"
#include "tests/support/FakePop3Server.h"
#include "tests/ui/MailSupport.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::string Mail(const std::string& subject)
{
    return "From: Ann Smith <ann@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Sun, 06 Dec 2026 20:07:05 +0000\r\n\r\nBody of " + subject + "\r\n";
}

class MessageListTest : public ::testing::Test
{
protected:
    TMainForm& Form() { return *Window.Form; }

    void Serve(const std::vector<std::string>& messages, int sessions)
    {
        Box.SetMessages(messages);
        Box.ServeOn(Server, sessions);
        Server.Start();
    }

    // The window on the screen at a size, so that its list and pane are laid out.
    void Show(int width, int height)
    {
        Form().resize(width, height);
        Form().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    }

    // A row as a check lists it, with the date and size that sort it.
    void AddRow(const std::string& subject, const std::string& date, std::int32_t size)
    {
        TMessageRow row;
        row.AccountName = "Home";
        row.Subject = subject;
        row.Date = date.empty() ? "" : FormatMessageDate(date, ParseMessageDate(date), "/");
        row.Sent = MessageDateTime(date);
        row.SizeBytes = size;
        row.Size = SizeText(size);
        static_cast<IMailView&>(Form()).AddMessage(row);
    }

    QStringList Column(int column) const
    {
        QStringList texts;
        for (int index = 0; index < Window.RowCount(); ++index)
            texts.append(Window.Form->lvNotification->topLevelItem(index)->text(column));
        return texts;
    }

    void ClickHeader(int column)
    {
        QHeaderView* header = Form().lvNotification->header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }

    // What resting the pointer on a cell shows.
    QString CellToolTip(int row, int column)
    {
        QTreeWidget* list = Form().lvNotification;
        const QRect cell = list->visualItemRect(list->topLevelItem(row));
        const QPoint at(list->header()->sectionViewportPosition(column) + 5, cell.center().y());
        QToolTip::hideText();
        QHelpEvent event(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    // The mailbox outlives the server, whose thread may still answer a QUIT from it.
    TFakeMailbox Box;
    TFakePop3Server Server;
    TMailWindow Window;
};

} // namespace

TEST_F(MessageListTest, SubjectTakesTheFreeWidthAndTheOthersKeepTheirMinimum)
{
    Show(1100, 500);
    QTreeWidget* list = Form().lvNotification;
    const auto others = [&] {
        return list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(3) +
               list->columnWidth(4);
    };
    EXPECT_EQ(list->columnWidth(2), list->viewport()->width() - others());
    EXPECT_GT(list->columnWidth(2), 600);

    list->setColumnWidth(1, 20);
    list->setColumnWidth(3, 400);
    EXPECT_EQ(list->columnWidth(1), 150) << "the design width is the least";
    EXPECT_EQ(list->columnWidth(2), list->viewport()->width() - others());

    Form().resize(500, 400);
    QTest::qWait(50);
    EXPECT_EQ(list->columnWidth(2), 150) << "a narrow window scrolls instead of hiding Subject";
}

TEST_F(MessageListTest, AccountDateAndSizeGrowToTheirTextsUntilSizedByHand)
{
    Show(900, 500);
    const std::string account = "Sample server at the office";
    Serve({Mail("one")}, 1);
    Window.AddAccount(account, Server.Port());
    ASSERT_TRUE(Window.Check());
    QTreeWidget* list = Form().lvNotification;
    const QFontMetrics metrics = list->fontMetrics();
    EXPECT_GT(list->columnWidth(0), metrics.horizontalAdvance(QString::fromStdString(account)));
    EXPECT_GT(list->columnWidth(3), metrics.horizontalAdvance(list->topLevelItem(0)->text(3)));
    EXPECT_EQ(list->columnWidth(1), 150) << "names are not fitted";
    EXPECT_EQ(CellToolTip(0, 0), QString()) << "a cell that shows its whole text has no tooltip";

    AddRow(std::string(300, 'x'), "", 10);
    EXPECT_EQ(list->columnWidth(2), list->viewport()->width() - list->columnWidth(0) -
                                        list->columnWidth(1) - list->columnWidth(3) -
                                        list->columnWidth(4));
    TMessageRow wide;
    wide.AccountName = std::string(200, 'w');
    static_cast<IMailView&>(Form()).AddMessage(wide);
    EXPECT_EQ(list->columnWidth(0), TMessageListLayout::MaxFittedWidth);
    EXPECT_EQ(CellToolTip(2, 0), QString::fromStdString(wide.AccountName))
        << "a cut cell shows its whole text";
}

TEST_F(MessageListTest, HeaderClicksSortDatesAndSizesByValueAndTheSortIsKept)
{
    Show(800, 500);
    AddRow("March", "Mon, 02 Mar 2026 08:30:00 +0100", 900);
    AddRow("February", "Sat, 28 Feb 2026 23:00:00 -0500", 15000);
    AddRow("No date", "", 2048);
    AddRow("Same day, earlier in UTC", "Mon, 02 Mar 2026 09:00:00 +0300", 1500);
    AddRow("Unknown size", "Tue, 03 Mar 2026 10:00:00 +0000", -1);
    const QStringList listed = Column(2);

    ClickHeader(3);
    EXPECT_EQ(Column(2), (QStringList{"No date", "February", "Same day, earlier in UTC", "March",
                                      "Unknown size"}))
        << "an unreadable date counts as the oldest";
    ClickHeader(3);
    EXPECT_EQ(Column(2), (QStringList{"Unknown size", "March", "Same day, earlier in UTC",
                                      "February", "No date"}));
    ClickHeader(4);
    EXPECT_EQ(Column(2), (QStringList{"Unknown size", "March", "Same day, earlier in UTC",
                                      "No date", "February"}))
        << "1500 and 2048 bytes both read 2 KB";
    // A check's rows come in sorted.
    AddRow("Tiny", "", 10);
    EXPECT_EQ(Column(2).indexOf(QStringLiteral("Tiny")), 1);

    // The sort is saved with the window layout and comes back with it.
    Window.Form.reset();
    Window.Form = std::make_unique<TMainForm>(Window.Store, Window.Dialogs.Make(), Window.Shell);
    QHeaderView* header = Form().lvNotification->header();
    EXPECT_EQ(header->sortIndicatorSection(), 4);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_FALSE(listed.isEmpty());
}

TEST_F(MessageListTest, ListOrderUntilTheUserSorts)
{
    AddRow("b", "Tue, 03 Mar 2026 10:00:00 +0000", 3);
    AddRow("a", "Mon, 02 Mar 2026 10:00:00 +0000", 1);
    AddRow("c", "", 2);
    EXPECT_EQ(Column(2), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(Form().lvNotification->header()->sortIndicatorSection(), -1);
}

TEST_F(MessageListTest, PreviewLabelsCutLongTextsAndShowThemWhole)
{
    Show(550, 400);
    TMessagePreview preview;
    preview.From = "Someone With A Rather Long Name <someone.with.a.long.name@example.org>";
    preview.To = "Demo User <demo@example.org>, team@example.com, another@example.com";
    preview.ToHint = "the To hint";
    preview.Subject = "Short";
    static_cast<IMailView&>(Form()).ShowPreview(preview);

    auto* from = qobject_cast<TElidingLabel*>(Form().lblFrom);
    auto* to = qobject_cast<TElidingLabel*>(Form().lblTo);
    auto* subject = qobject_cast<TElidingLabel*>(Form().lblSubject);
    ASSERT_TRUE(from && to && subject);
    const int right = Form().pnlMessagePreviewTitle->width();
    EXPECT_TRUE(from->Elided());
    EXPECT_TRUE(to->Elided());
    EXPECT_LE(to->geometry().right(), right) << "nothing runs under the close button";
    EXPECT_EQ(from->ToolTipText(), QString::fromStdString(preview.From));
    EXPECT_EQ(to->ToolTipText(), QStringLiteral("the To hint")) << "the label's own hint wins";
    EXPECT_FALSE(subject->Elided());
    EXPECT_EQ(subject->ToolTipText(), QString());
    EXPECT_EQ(Form().lblToTitle->x(), from->x() + from->width() + 10);

    // Room enough: every value shows whole, at the width of its text.
    Form().resize(1400, 400);
    QTest::qWait(50);
    EXPECT_FALSE(from->Elided());
    EXPECT_FALSE(to->Elided());
    EXPECT_EQ(from->ToolTipText(), QString());
}

TEST_F(MessageListTest, OpenPreviewFollowsTheSelection)
{
    Serve({Mail("one"), Mail("two"), Mail("three")}, 4);
    Window.AddAccount("Home", Server.Port());
    ASSERT_TRUE(Window.Check());
    Form().findChild<TPreviewFollower*>(QStringLiteral("PreviewFollower"))->SetDelay(0);
    QTreeWidget* list = Form().lvNotification;
    const auto idle = [&] { return !Form().MailOperationsController().Busy; };

    list->setCurrentItem(list->topLevelItem(1));
    QTest::qWait(50);
    EXPECT_FALSE(Form().MessagePreviewShown()) << "a closed pane stays closed";

    Form().actViewMessagePreviewExecute();
    ASSERT_TRUE(WaitFor(idle));
    ASSERT_EQ(Form().lblSubject->text(), QStringLiteral("two"));

    list->setCurrentItem(list->topLevelItem(2));
    EXPECT_TRUE(WaitFor([&] { return Form().lblSubject->text() == QStringLiteral("three"); }));
    ASSERT_TRUE(WaitFor(idle));
    EXPECT_EQ(Form().memMessage->toPlainText(), QStringLiteral("Body of three"));

    // Offline, a new selection leaves the pane and the list as they are.
    Window.Probes->DialUpIsConnected = false;
    Window.Probes->Flags = 0;
    list->setCurrentItem(list->topLevelItem(0));
    QTest::qWait(100);
    EXPECT_EQ(Form().lblSubject->text(), QStringLiteral("three"));
    EXPECT_EQ(Window.RowCount(), 3);

    const std::vector<std::string> commands = Server.Commands();
    EXPECT_EQ(
        std::count_if(commands.begin(), commands.end(),
                      [](const std::string& command) { return command.rfind("Top ", 0) == 0; }),
        2)
        << "one preview per row the pane showed";
}
