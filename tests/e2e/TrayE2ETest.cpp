// The real program in a real tray: a virtual X display with a small panel that embeds tray
// icons, clicked with xdotool as a user would.
#include "tests/e2e/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiSupport.h"

#include <QApplication>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QString MainWindowName = QStringLiteral("^Mailbeacon 2.0$");

class TTrayE2ETest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed (packages xvfb, trayer, xdotool, "
                             << "x11-utils); the tray is not tested";
        }
        FEnvironment = PrivateEnvironment(FDir.Path());
        FEnvironment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        FEnvironment.remove(QStringLiteral("WAYLAND_DISPLAY"));

        // Xvfb picks a free display number itself and writes it to the given descriptor.
        ASSERT_TRUE(FServer.Start(QStringLiteral("Xvfb"),
                                  {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                   QStringLiteral("-screen"), QStringLiteral("0"),
                                   QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                   QStringLiteral("tcp")},
                                  FEnvironment));
        static const QRegularExpression number(QStringLiteral("^(\\d+)\\n"),
                                               QRegularExpression::MultilineOption);
        ASSERT_TRUE(WaitFor([&] { return number.match(FServer.Output()).hasMatch(); }, 10000))
            << FServer.Output().toStdString();
        FEnvironment.insert(QStringLiteral("DISPLAY"),
                            QLatin1Char(':') + number.match(FServer.Output()).captured(1));

        ASSERT_TRUE(FPanel.Start(
            QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
             QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--heighttype"),
             QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("32"),
             QStringLiteral("--SetDockType"), QStringLiteral("true"),
             QStringLiteral("--transparent"), QStringLiteral("false")},
            FEnvironment));
        const QStringList findPanel = {QStringLiteral("search"), QStringLiteral("--name"),
                                       QStringLiteral("^panel$")};
        ASSERT_TRUE(WaitFor(
            [&] {
                return RunCommand(QStringLiteral("xdotool"), findPanel, FEnvironment).Succeeded;
            },
            10000))
            << FPanel.Output().toStdString();
    }

    void Xdotool(const QStringList& arguments)
    {
        ASSERT_TRUE(RunCommand(QStringLiteral("xdotool"), arguments, FEnvironment).Succeeded)
            << arguments.join(QLatin1Char(' ')).toStdString();
    }

    bool MainWindowVisible()
    {
        return RunCommand(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--name"), MainWindowName},
                          FEnvironment)
            .Succeeded;
    }

    // The middle of the program's icon once the panel has embedded it and laid it out: the
    // program's window of more than one pixel, inside the panel.
    std::optional<QPoint> IconCentre()
    {
        const QString tree =
            RunCommand(QStringLiteral("xwininfo"),
                       {QStringLiteral("-root"), QStringLiteral("-tree")}, FEnvironment)
                .Output;
        const std::optional<QRect> panel =
            AbsoluteGeometry(tree, QStringLiteral("\"panel\": \\(\"panel\" \"trayer\"\\)"));
        const std::optional<QRect> icon = AbsoluteGeometry(
            tree, QStringLiteral("\"Mailbeacon\": \\(\"mailbeacon\" \"Mailbeacon\"\\)"));
        if (!panel || !icon || !panel->contains(*icon))
            return std::nullopt;
        return icon->center();
    }

    // Where the first window of more than one pixel whose line starts with pattern lies on the
    // screen, from a window tree as xwininfo prints it.
    static std::optional<QRect> AbsoluteGeometry(const QString& tree, const QString& pattern)
    {
        const QRegularExpression line(
            pattern +
            QStringLiteral("\\s+(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
        QRegularExpressionMatchIterator matches = line.globalMatch(tree);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            const QRect geometry(match.captured(3).toInt(), match.captured(4).toInt(),
                                 match.captured(1).toInt(), match.captured(2).toInt());
            if (geometry.width() > 1 && geometry.height() > 1)
                return geometry;
        }
        return std::nullopt;
    }

    QStringList MoveTo(const QPoint& point)
    {
        return {QStringLiteral("mousemove"), QString::number(point.x()),
                QString::number(point.y())};
    }

    TTempDir FDir;
    QProcessEnvironment FEnvironment;
    TChildProcess FServer;
    TChildProcess FPanel;
};

TEST_F(TTrayE2ETest, DoubleClickOnTheTrayIconOpensTheWindowAndItsMenuEndsTheProgram)
{
    TChildProcess program;
    ASSERT_TRUE(program.Start(ProgramPath(), {}, FEnvironment));
    // Placed, and in the same place twice running: the panel has settled.
    std::optional<QPoint> centre;
    std::optional<QPoint> before;
    ASSERT_TRUE(WaitFor(
        [&] {
            before = centre;
            centre = IconCentre();
            return centre.has_value() && centre == before;
        },
        10000))
        << "the icon never reached the tray: " << program.Output().toStdString();
    EXPECT_FALSE(MainWindowVisible()) << "the program starts hidden in the tray";

    // The first click of a double click arrives on its own as well; alone it does nothing.
    Xdotool(MoveTo(*centre) << QStringLiteral("click") << QStringLiteral("1"));
    QTest::qWait(QApplication::doubleClickInterval() + 400);
    EXPECT_FALSE(MainWindowVisible()) << "a single click must not open the window";

    Xdotool(MoveTo(*centre) << QStringLiteral("click") << QStringLiteral("--repeat")
                            << QStringLiteral("2") << QStringLiteral("--delay")
                            << QStringLiteral("60") << QStringLiteral("1"));
    EXPECT_TRUE(WaitFor([&] { return MainWindowVisible(); }, 5000))
        << program.Output().toStdString();

    // The menu's last item is Exit. On a busy machine the menu may open after the keys were
    // sent; the keys then reach nothing, so the user's gesture is simply made again.
    bool finished = false;
    for (int attempt = 0; attempt < 3 && !finished; ++attempt) {
        Xdotool(MoveTo(*centre) << QStringLiteral("click") << QStringLiteral("3"));
        QTest::qWait(500 + 500 * attempt);
        Xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")});
        finished = program.WaitForFinished(3000);
    }
    ASSERT_TRUE(finished) << "Exit in the tray menu must end the program";
    EXPECT_EQ(program.Process().exitCode(), 0) << program.Output().toStdString();
    EXPECT_FALSE(IconCentre().has_value()) << "the icon leaves the tray with the program";
}

// Before, a first start showed nothing but the tray icon.
TEST_F(TTrayE2ETest, FirstStartWithoutAccountOpensTheSettingsDialog)
{
    ASSERT_TRUE(QFile::remove(QString::fromStdString(FDir.File("store.reg"))));
    TChildProcess program;
    ASSERT_TRUE(program.Start(ProgramPath(), {}, FEnvironment));
    const QStringList findSettings = {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                      QStringLiteral("--name"),
                                      QStringLiteral("^Mailbeacon 2.0 - Settings$")};
    EXPECT_TRUE(WaitFor(
        [&] { return RunCommand(QStringLiteral("xdotool"), findSettings, FEnvironment).Succeeded; },
        10000))
        << program.Output().toStdString();
    program.Process().terminate();
    EXPECT_TRUE(program.WaitForFinished(5000));
}

// As the application menu's launcher starts it: the window opens at once, tray or not.
TEST_F(TTrayE2ETest, TheLaunchersShowOptionOpensTheWindow)
{
    TChildProcess program;
    ASSERT_TRUE(program.Start(ProgramPath(), {QStringLiteral("--show")}, FEnvironment));
    EXPECT_TRUE(WaitFor([&] { return MainWindowVisible(); }, 10000))
        << program.Output().toStdString();
}

} // namespace
