// The program's real question boxes, answered by a timer as a user would.
#include "gui/Dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs answer on the box once it is open; the text of its default button is kept.
void WhenOpen(const std::function<void(QMessageBox&)>& answer, QString& defaultButton)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer, &defaultButton] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        poll->stop();
        poll->deleteLater();
        if (box->defaultButton() != nullptr)
            defaultButton = box->defaultButton()->text().remove(u'&');
        answer(*box);
    });
    poll->start(10);
}

} // namespace

// A deletion cannot be undone: Return alone must not delete anything.
TEST(DialogsTest, DeletionQuestionDefaultsToNo)
{
    const TDialogs dialogs = TDialogs::Standard();
    QString defaultButton;
    WhenOpen([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, defaultButton);
    EXPECT_FALSE(dialogs.AskYesNo(nullptr, QStringLiteral("Delete 1 message?")));
    EXPECT_EQ(defaultButton, QStringLiteral("No"));
}

TEST(DialogsTest, SaveQuestionOffersSaveAndEscapeStays)
{
    const TDialogs dialogs = TDialogs::Standard();
    QString defaultButton;
    WhenOpen([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, defaultButton);
    EXPECT_EQ(dialogs.AskSave(nullptr, QStringLiteral("Save the changes to account Home?")),
              TSaveAnswer::Cancel);
    EXPECT_EQ(defaultButton, QStringLiteral("Save"));
    WhenOpen([](QMessageBox& box) { box.button(QMessageBox::Discard)->click(); }, defaultButton);
    EXPECT_EQ(dialogs.AskSave(nullptr, QStringLiteral("Save the changes to account Home?")),
              TSaveAnswer::Discard);
}
