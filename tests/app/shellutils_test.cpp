#include "core/error.h"
#include "core/shellutils.h"
#include "tests/support/dialogs/scripteddialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using palisor::Error;
using palisor::ScriptedDialogs;

namespace {

QByteArray readBytes(const QString& fileName)
{
    QFile file(fileName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << fileName.toStdString();
    return file.readAll();
}

QString errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

// The helper program built beside this test, started by bare name.
const QString helper = QStringLiteral("app_test_helper");

}  // namespace

TEST(DigitsOnly, KeepsOnlyTheDigits)
{
    EXPECT_EQ(palisor::DigitsOnly("12a3"), 123);
    EXPECT_EQ(palisor::DigitsOnly("007"), 7);
    EXPECT_EQ(palisor::DigitsOnly("abc"), 0);
    EXPECT_EQ(palisor::DigitsOnly(""), 0);
    EXPECT_EQ(palisor::DigitsOnly("1 2 3"), 123);
    EXPECT_EQ(palisor::DigitsOnly("-5"), 5);
    EXPECT_EQ(palisor::DigitsOnly(QString::fromUtf8("\u0663" "4")), 4);  // only 0-9 count as digits
}

TEST(DigitsOnly, SixtyFourBitRange)
{
    EXPECT_EQ(palisor::DigitsOnly("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(palisor::DigitsOnly("0000000000000000000000042"), 42);
    EXPECT_EQ(errorOf([] { palisor::DigitsOnly("9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");
    EXPECT_EQ(errorOf([] { palisor::DigitsOnly("ping 99999999999999999999 ms"); }),
              "'99999999999999999999' is not a valid integer value");
}

TEST(IsTrueText, OnlyTrueInAnyLetterCase)
{
    for (const char* yes : {"True", "true", "TRUE", "tRuE"})
        EXPECT_TRUE(palisor::IsTrueText(yes)) << yes;
    for (const char* no : {"1", "Yes", "TRUE ", " True", "", "TRU", "TRUEE", "False"})
        EXPECT_FALSE(palisor::IsTrueText(no)) << no;
}

TEST(PadZeros, PadsButNeverShortens)
{
    EXPECT_EQ(palisor::PadZeros("5", 2), "05");
    EXPECT_EQ(palisor::PadZeros("42", 3), "042");
    EXPECT_EQ(palisor::PadZeros("123", 2), "123");
    EXPECT_EQ(palisor::PadZeros("", 2), "00");
    EXPECT_EQ(palisor::PadZeros("7", 0), "7");
}

TEST(SaveTextFile, EveryLineEndsWithCrLf)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("out.txt");
    const struct {
        const char* text;
        QByteArray bytes;
    } cases[] = {
        {"", ""},
        {"one", "one\r\n"},
        {"one\r\n", "one\r\n"},
        {"a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"a\n\nb\r\r\n", "a\r\n\r\nb\r\n\r\n"},
        {"\n", "\r\n"},
    };
    for (const auto& c : cases) {
        palisor::SaveTextFile(file, QString::fromLatin1(c.text));
        EXPECT_EQ(readBytes(file), c.bytes) << c.text;
    }
}

TEST(SaveTextFile, WritesOneByteForEveryCharacter)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("names.txt");
    QByteArray raw;
    for (int b = 0x20; b <= 0xFF; ++b)
        raw.append(static_cast<char>(b));
    palisor::SaveTextFile(file, QString::fromLatin1(raw));
    EXPECT_EQ(readBytes(file), raw + "\r\n");
}

TEST(SaveTextFile, ReplacesAnOlderFileAndReportsFailures)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Banned.txt");
    palisor::SaveTextFile(file, "a much longer text than the next one");
    palisor::SaveTextFile(file, "short");
    EXPECT_EQ(readBytes(file), "short\r\n");

    const QString missing = dir.filePath("no/such/folder/x.txt");
    const QString message = errorOf([&] { palisor::SaveTextFile(missing, "x"); });
    EXPECT_TRUE(message.startsWith("Cannot create file \"" + missing + "\". ")) << message.toStdString();
    EXPECT_GT(message.size(), QString("Cannot create file \"" + missing + "\". ").size());
}

TEST(SaveTextAs, AsksWithTheDocumentedRequestAndSavesTheChosenFile)
{
    QTemporaryDir dir;
    const QString chosen = dir.filePath("mine.txt");
    ScriptedDialogs dialogs;
    dialogs.answerSaveFile(chosen);
    palisor::SaveTextAs("Response.txt", "line 1\nline 2");

    const palisor::FileDialogRequest& request = dialogs.lastCall().request;
    EXPECT_EQ(dialogs.lastCall().kind, ScriptedDialogs::Kind::SaveFile);
    EXPECT_EQ(request.title, "Save As");
    EXPECT_EQ(request.filter, "File Type (*.txt);;All Files (*.*)");
    EXPECT_EQ(request.defaultSuffix, "txt");
    EXPECT_EQ(request.initialName, "Response.txt");
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_TRUE(request.pathMustExist);
    EXPECT_FALSE(request.fileMustExist);
    EXPECT_EQ(readBytes(chosen), "line 1\r\nline 2\r\n");
}

TEST(SaveTextAs, CancelWritesNothingAndANameWithoutExtensionGetsNone)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    dialogs.answerSaveFile(QString());
    palisor::SaveTextAs("Banned", "x");
    EXPECT_EQ(dialogs.lastCall().request.filter, "File Type (*);;All Files (*.*)");
    EXPECT_EQ(dialogs.lastCall().request.defaultSuffix, "");
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST(ChooseOpenFile, AsksWithTheDocumentedRequest)
{
    ScriptedDialogs dialogs;
    dialogs.answerOpenFile("/somewhere/BannedIPs.txt");
    dialogs.answerOpenFile(QString());
    EXPECT_EQ(palisor::ChooseOpenFile(".txt"), "/somewhere/BannedIPs.txt");
    EXPECT_EQ(palisor::ChooseOpenFile(".txt"), "");

    const palisor::FileDialogRequest& request = dialogs.lastCall().request;
    EXPECT_EQ(dialogs.lastCall().kind, ScriptedDialogs::Kind::OpenFile);
    EXPECT_EQ(request.title, "Open");
    EXPECT_EQ(request.filter, "File Type (*.txt);;All Files (*.*)");
    EXPECT_EQ(request.defaultSuffix, "txt");
    EXPECT_EQ(request.initialName, "");
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_TRUE(request.pathMustExist);
    EXPECT_TRUE(request.fileMustExist);
}

TEST(RunAndWait, ReturnsTheExitCode)
{
    EXPECT_EQ(palisor::RunAndWait("sh -c \"exit 3\"", false), 3);
    EXPECT_EQ(palisor::RunAndWait("true", true), 0);
    EXPECT_EQ(palisor::RunAndWait("sh -c \"kill -9 $$\"", false), -1);
}

TEST(RunAndWait, MissingProgramStartsNothing)
{
    for (const QString& command : {QString("palisor-no-such-program -b data/PALISOR.BKP"),
                                   QString("/no/such/folder/gbak -r"), QString("")}) {
        EXPECT_EQ(errorOf([&] { palisor::RunAndWait(command, false); }), "CREATE PROCESS FAILED:" + command);
    }
    QTemporaryDir dir;
    QFile notExecutable(dir.filePath("plain"));
    ASSERT_TRUE(notExecutable.open(QIODevice::WriteOnly));
    notExecutable.close();
    const QString command = dir.filePath("plain");
    EXPECT_EQ(errorOf([&] { palisor::RunAndWait(command, false); }), "CREATE PROCESS FAILED:" + command);
}

TEST(RunAndWait, OwnFolderIsSearchedBeforePath)
{
    // A program of the same name earlier on PATH must lose to the one beside us.
    QTemporaryDir dir;
    QFile impostor(dir.filePath(helper));
    ASSERT_TRUE(impostor.open(QIODevice::WriteOnly));
    impostor.write("#!/bin/sh\nexit 2\n");
    impostor.close();
    impostor.setPermissions(impostor.permissions() | QFileDevice::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()) + ":" + oldPath);
    const int fromOwnFolder = palisor::RunAndWait(helper + " exit 7", false);
    const int fromPath = palisor::RunAndWait("sh -c \"" + helper + " exit 7\"", false);
    qputenv("PATH", oldPath);
    EXPECT_EQ(fromOwnFolder, 7);
    EXPECT_EQ(fromPath, 2);
}

TEST(RunAndWait, ChildStartsClean)
{
    const int fd = ::open("/dev/null", O_RDONLY);  // deliberately inheritable
    ASSERT_GE(fd, 3);
    EXPECT_EQ(palisor::RunAndWait(helper + " fd-open " + QString::number(fd), true), 1);
    EXPECT_EQ(palisor::RunAndWait(helper + " fd-open 2", false), 0);
    ::close(fd);

    // An ignored or blocked signal here must not make the tool unstoppable.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGTERM, &ignore, &previous);
    sigset_t usr1, oldMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::sigprocmask(SIG_BLOCK, &usr1, &oldMask);
    const int term = palisor::RunAndWait(helper + " signal " + QString::number(SIGTERM), false);
    const int user = palisor::RunAndWait(helper + " signal " + QString::number(SIGUSR1), false);
    ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGTERM, &previous, nullptr);
    EXPECT_EQ(term, 0);
    EXPECT_EQ(user, 0);
}
