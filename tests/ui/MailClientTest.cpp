#include "gui/MailClient.h"

#include "config/FileKeyStore.h"
#include "gui/MailOperations.h"
#include "gui/MainFrm.h"
#include "pop3/StrUtils.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>

namespace {

// The option's text and what it names

struct TParseCase
{
    const char* Name;
    const char* Setting;
    const char* Program;
    const char* Parameters;
};

void PrintTo(const TParseCase& parseCase, std::ostream* out)
{
    *out << parseCase.Name;
}

class TParseMailClientTest : public ::testing::TestWithParam<TParseCase>
{};

TEST_P(TParseMailClientTest, SplitsProgramAndParameters)
{
    const TMailClientCommand command = ParseMailClient(GetParam().Setting);
    EXPECT_EQ(command.Program, GetParam().Program);
    EXPECT_EQ(command.Parameters, GetParam().Parameters);
}

INSTANTIATE_TEST_SUITE_P(
    MailClientOption, TParseMailClientTest,
    ::testing::Values(
        TParseCase{"Empty", "", "", ""},
        TParseCase{"PathAlone", "/opt/mail/client", "/opt/mail/client", ""},
        // Without quotes the parameters belong to the name, which then names no file.
        TParseCase{"UnquotedWithParameters", "/opt/mail/client -check", "/opt/mail/client -check",
                   ""},
        TParseCase{"QuotedWithParameters", "\"/opt/mail/client\" -check", "/opt/mail/client",
                   " -check"},
        TParseCase{"QuotedWithBlanks", "\"/opt/my mail/client\"", "/opt/my mail/client", ""},
        TParseCase{"QuotedParameters", "\"/opt/mail/client\" \"-to=a b\" -x", "/opt/mail/client",
                   " \"-to=a b\" -x"},
        TParseCase{"UnclosedQuote", "\"/opt/mail/client -check", "\"/opt/mail/client -check", ""},
        TParseCase{"EmptyQuotes", "\"\" -check", "", " -check"},
        // Text before the opening quote stays in both halves.
        TParseCase{"TextBeforeTheQuote", "ab\"cd\"ef", "abcd", "abef"}),
    [](const ::testing::TestParamInfo<TParseCase>& parameter) { return parameter.param.Name; });

// The program and its parameters are trimmed with the shared rule before the start.
TEST(MailClientTrim, RemovesBlanksAndControlCharactersAtBothEnds)
{
    EXPECT_EQ(Trim(" \t\r\n-check \"a b\"\x01\x1f "), "-check \"a b\"");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim("x"), "x");
}

// The window's Start Mail Client

class TStartMailClientTest : public ::testing::Test
{
protected:
    TStartMailClientTest()
        : FStore(FDir.File("store.reg"))
        , FShell(std::make_shared<TRecordingShell>())
    {
        FClient = FDir.File("mail client");
        WriteFile(FClient, "#!/bin/sh\n");
        std::filesystem::permissions(FClient, std::filesystem::perms::owner_all);
    }

    std::unique_ptr<TMainForm> MakeForm(const std::string& mailClient,
                                        std::shared_ptr<IShellOpen> shell = {})
    {
        auto form =
            std::make_unique<TMainForm>(FStore, FDialogs.Make(), shell ? std::move(shell) : FShell);
        form->Configuration().Notification.MailClient = mailClient;
        // As the settings dialog's end does.
        form->UpdateActions();
        return form;
    }

    static void ShowAndWait(TMainForm& form)
    {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    TTempDir FDir;
    TFileKeyStore FStore;
    TScriptedDialogs FDialogs;
    std::shared_ptr<TRecordingShell> FShell;
    std::string FClient;
};

TEST_F(TStartMailClientTest, QuotedProgramStartsWithTrimmedParametersAndHidesTheWindow)
{
    auto form = MakeForm("\"" + FClient + "\"   -check  ");
    ShowAndWait(*form);
    form->actNotificationStartMailClient->trigger();
    ASSERT_EQ(FShell->Opened.size(), 1u);
    EXPECT_EQ(FShell->Opened[0].first, QString::fromStdString(FClient));
    EXPECT_EQ(FShell->Opened[0].second, QStringLiteral("-check"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(FDialogs.Errors.isEmpty());
}

TEST_F(TStartMailClientTest, OptionThatNamesNoFileStartsNothingAndShowsNothing)
{
    std::filesystem::create_directory(FDir.File("folder"));
    for (const std::string& setting :
         {std::string(), FClient + " -check", FDir.File("missing"), FDir.File("folder"),
          "\"" + FClient + " \"", " \"" + FClient + "\"", "\"" + FClient}) {
        auto form = MakeForm(setting);
        ShowAndWait(*form);
        form->actNotificationStartMailClientExecute();
        EXPECT_TRUE(form->isVisible()) << setting;
        EXPECT_TRUE(FShell->Opened.empty()) << setting;
    }
    EXPECT_TRUE(FDialogs.Errors.isEmpty());
    EXPECT_TRUE(FDialogs.Questions.isEmpty());
}

TEST_F(TStartMailClientTest, ToolbarTrayMenuAndTrayDoubleClickStartIt)
{
    auto form = MakeForm(FClient);
    form->Configuration().ApplicationSettings.DoubleClick = TApplicationSettings::StartMailClient;
    // Busy does not hold it back: a check may be running.
    form->MailOperationsController().Busy = true;
    form->TrayIconDblClick();
    EXPECT_FALSE(form->isVisible()) << "a window hidden in the tray stays hidden";

    form->findChild<QToolButton*>(QStringLiteral("tbtnStartMailClient"))->click();
    form->pmTrayIcon->findChild<QAction*>(QStringLiteral("pmiStartmailclient"))->trigger();
    ASSERT_EQ(FShell->Opened.size(), 3u);
    for (const auto& [program, parameters] : FShell->Opened) {
        EXPECT_EQ(program, QString::fromStdString(FClient));
        EXPECT_TRUE(parameters.isEmpty());
    }
}

// A real program as the mail client: it writes the arguments it was given, one per line.
TEST_F(TStartMailClientTest, RealProgramReceivesTheParametersOfTheOption)
{
    const std::string output = FDir.File("arguments");
    const std::string program = FDir.File("my mail client");
    WriteFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + output + ".tmp'\nmv '" + output +
                           ".tmp' '" + output + "'\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);

    auto form = MakeForm("\"" + program + "\" -compose \"to=Ann Example <ann@example.org>\" -x ",
                         std::make_shared<TShellOpen>([](const QUrl&) { return false; }));
    ShowAndWait(*form);
    form->actNotificationStartMailClientExecute();
    EXPECT_FALSE(form->isVisible());
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(output); }, 5000))
        << "the mail client did not run";
    EXPECT_EQ(ReadFile(output), "-compose\nto=Ann Example <ann@example.org>\n-x\n");
}

} // namespace
