#include "window/windowplacement.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace palisor;

TEST(NormalPos, RoundTripsAndFallsBackPartByPart)
{
    const QRect current(100, 50, 553, 544);
    EXPECT_EQ(FormatNormalPos(QRect(10, 20, 553, 544)), "10,20,563,564");
    EXPECT_EQ(ParseNormalPos("10,20,563,564", current), QRect(10, 20, 553, 544));
    EXPECT_EQ(ParseNormalPos("x,20,700,y", current), QRect(100, 20, 600, 574));
    EXPECT_EQ(ParseNormalPos("10,20", current), QRect(10, 20, 643, 574));
    EXPECT_FALSE(ParseNormalPos("", current));
    EXPECT_FALSE(ParseNormalPos("500,20,500,600", current));
    EXPECT_FALSE(ParseNormalPos("600,20,500,600", current));
    // A bottom above the top keeps the height the window has.
    EXPECT_EQ(ParseNormalPos("10,300,563,200", current), QRect(10, 300, 553, 544));
}

TEST(IniFile, WritesKeysInPlaceAndKeepsOtherSections)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Palisor.INI");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Other]\r\nFlags=9\r\n\r\n[main]\r\nflags=1\r\n\r\n[Last]\r\nx=y\r\n");
    }
    IniFile ini(path);
    EXPECT_EQ(ini.Read("MAIN", "Flags").value_or("-"), "1");
    EXPECT_FALSE(ini.Read("Main", "NormalPos"));
    ini.Write("Main", "Flags", "0");
    ini.Write("Main", "NormalPos", "1,2,3,4");
    ini.Write("New", "Key", "v");
    ini.Save();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("[Other]\r\nFlags=9\r\n\r\n[main]\r\nFlags=0\r\nNormalPos=1,2,3,4\r\n\r\n"
                                         "[Last]\r\nx=y\r\n[New]\r\nKey=v\r\n"));
    EXPECT_EQ(IniFile(path).Read("Other", "flags").value_or("-"), "9");
    EXPECT_FALSE(IniFile(dir.filePath("missing.INI")).Read("Main", "Flags"));
}
