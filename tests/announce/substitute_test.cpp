#include "monitor/announcements.h"

#include <QLocale>
#include <gtest/gtest.h>

using palisor::AnnouncementTime;
using palisor::SubstituteVariables;

namespace {

const QString mark = QStringLiteral("$");

QStringList variables(const QString& serverName = QStringLiteral("Main Street"),
                      const QString& gameType = QStringLiteral("Objective-Match"))
{
    return {QStringLiteral("$serverip$=203.0.113.7"),
            QStringLiteral("$servername$=") + serverName,
            QStringLiteral("$time$=9:05 PM"),
            QStringLiteral("$gametype$=") + gameType,
            QStringLiteral("$crntmap$=Bridge"),
            QStringLiteral("$nextmap$=malta"),
            QStringLiteral("$banned$=12"),
            QStringLiteral("$recent$=340")};
}

QString substitute(const QString& text, const QStringList& vars = variables())
{
    return SubstituteVariables(text, vars, mark);
}

TEST(SubstituteVariables, ReplacesKnownVariablesLeftToRight)
{
    EXPECT_EQ(substitute(QStringLiteral("Welcome to $servername$")), QStringLiteral("Welcome to Main Street"));
    EXPECT_EQ(substitute(QStringLiteral("Now playing $crntmap$ on $servername$, next $nextmap$")),
              QStringLiteral("Now playing Bridge on Main Street, next malta"));
    EXPECT_EQ(substitute(QStringLiteral("$banned$ banned, $recent$ seen at $serverip$")),
              QStringLiteral("12 banned, 340 seen at 203.0.113.7"));
    EXPECT_EQ(substitute(QStringLiteral("No variables here")), QStringLiteral("No variables here"));
}

TEST(SubstituteVariables, NamesMatchInAnyLetterCase)
{
    EXPECT_EQ(substitute(QStringLiteral("It is $TIME$")), QStringLiteral("It is 9:05 PM"));
    EXPECT_EQ(substitute(QStringLiteral("It is $Time$ on $SERVERNAME$")), QStringLiteral("It is 9:05 PM on Main Street"));
}

TEST(SubstituteVariables, LeavesTextsWithoutKnownVariablesAlone)
{
    EXPECT_EQ(substitute(QStringLiteral("Win $5 today")), QStringLiteral("Win $5 today"));
    EXPECT_EQ(substitute(QStringLiteral("$")), QStringLiteral("$"));
    EXPECT_EQ(substitute(QStringLiteral("Ask for $help$ now")), QStringLiteral("Ask for $help$ now"));
    EXPECT_EQ(substitute(QStringLiteral("Costs $5 or $10")), QStringLiteral("Costs $5 or $10"));
    EXPECT_EQ(substitute(QStringLiteral("$$")), QStringLiteral("$$"));
}

TEST(SubstituteVariables, ReplacesARepeatedVariableOnceUnlessAnotherMarkRemains)
{
    const QString once = substitute(QStringLiteral("$time$ and $time$"));
    EXPECT_EQ(once, QStringLiteral("9:05 PM and $time$"));
    // The announcements editor sends after a second pass, which finishes it.
    EXPECT_EQ(substitute(once), QStringLiteral("9:05 PM and 9:05 PM"));
    // Removing the first occurrence is exact in letter case, so here a
    // mark is still seen and the second one is replaced as well.
    EXPECT_EQ(substitute(QStringLiteral("$TIME$ and $time$")), QStringLiteral("9:05 PM and 9:05 PM"));
    EXPECT_EQ(substitute(QStringLiteral("$crntmap$ then $unknown$")), QStringLiteral("Bridge then $unknown$"));
}

TEST(SubstituteVariables, EmptyValueCountsAsUnknownButABlankIsReplaced)
{
    EXPECT_EQ(substitute(QStringLiteral("On $servername$!"), variables(QString())), QStringLiteral("On $servername$!"));
    EXPECT_EQ(substitute(QStringLiteral("On $servername$!"), variables(QStringLiteral(" "))), QStringLiteral("On  !"));
    EXPECT_EQ(substitute(QStringLiteral("On $servername$!"), {}), QStringLiteral("On $servername$!"));
}

TEST(SubstituteVariables, EndsOnStrayMarksAroundPlainText)
{
    EXPECT_EQ(substitute(QStringLiteral("a $ b $ c $")), QStringLiteral("a $ b $ c $"));
    EXPECT_EQ(substitute(QStringLiteral("$x$ $y$ $z$")), QStringLiteral("$x$ $y$ $z$"));
    EXPECT_EQ(substitute(QStringLiteral("$unknown$ $crntmap$")), QStringLiteral("$unknown$ $crntmap$"));
    EXPECT_EQ(substitute(QString(1000, QLatin1Char('$'))), QString(1000, QLatin1Char('$')));
}

TEST(SubstituteVariables, EndsWhenValuesBringMarksIn)
{
    // Harmless: the value's lone mark is the only one left.
    EXPECT_EQ(substitute(QStringLiteral("Join $servername$"), variables(QStringLiteral("Big$Server"))),
              QStringLiteral("Join Big$Server"));
    // The value's mark pairs with the next variable's and the steps would
    // start over on the same text for ever.
    EXPECT_EQ(substitute(QStringLiteral("$servername$ on $crntmap$"), variables(QStringLiteral("Big$Server"))),
              QStringLiteral("Big$Server on $crntmap$"));
    // Values that name each other, or themselves twice, never run out of marks.
    const QString cycling = substitute(QStringLiteral("$servername$ $x$"),
                                       variables(QStringLiteral("$gametype$"), QStringLiteral("$servername$")));
    EXPECT_TRUE(cycling == QStringLiteral("$gametype$ $x$") || cycling == QStringLiteral("$servername$ $x$"))
        << cycling.toStdString();
    const QString growing = substitute(QStringLiteral("$servername$ $time$"),
                                       variables(QStringLiteral("$servername$$servername$")));
    EXPECT_TRUE(growing.startsWith(QStringLiteral("$servername$$servername$")));
    EXPECT_LT(growing.size(), 1000);
}

TEST(AnnouncementTime, TwelveHourClockWithEnglishHalfDayMark)
{
    const QDate day(2024, 3, 9);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(AnnouncementTime(QDateTime(day, QTime(0, 5))), QStringLiteral("12:05 AM"));
    EXPECT_EQ(AnnouncementTime(QDateTime(day, QTime(9, 30, 59))), QStringLiteral("9:30 AM"));
    EXPECT_EQ(AnnouncementTime(QDateTime(day, QTime(12, 0))), QStringLiteral("12:00 PM"));
    EXPECT_EQ(AnnouncementTime(QDateTime(day, QTime(23, 7))), QStringLiteral("11:07 PM"));
    QLocale::setDefault(QLocale::c());
}

}  // namespace
