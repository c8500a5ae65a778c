#include "core/error.h"
#include "tests/store/storetest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

using namespace palisor;
using palisor::test::StoreTest;

namespace {

class SweepTest : public StoreTest {
protected:
    ~SweepTest() override { qputenv("PATH", path_); }

    // Grows the live file to an exact size, as page allocation would.
    void growTo(qint64 size)
    {
        data->DisconnectDatabase();
        QFile file(data->databasePath());
        ASSERT_TRUE(file.resize(size));
        data->ConnectDatabase();
    }

    // A gbak found before the real one, running the given shell text.
    void standInGbak(const QByteArray& script)
    {
        QFile tool(tools_.filePath("gbak"));
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n" + script + "\n");
        tool.close();
        tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
        qputenv("PATH", tools_.path().toLocal8Bit() + ":" + path_);
    }

    void noGbak() { qputenv("PATH", tools_.path().toLocal8Bit()); }

    int timesLogged(const QString& text) const
    {
        QFile log(data->logPath());
        return log.open(QIODevice::ReadOnly) ? int(QString::fromLatin1(log.readAll()).count(text)) : 0;
    }
    bool logged(const QString& text) const { return timesLogged(text) > 0; }

    // After a failed cycle: the live file with the newest row, tables open,
    // no restored leftovers.
    void expectNewestDataLive()
    {
        EXPECT_TRUE(QFile::exists(data->databasePath()));
        EXPECT_FALSE(QFile::exists(data->dataFolder() + "/PALISOR.NEW"));
        EXPECT_TRUE(data->tblBanned->isOpen());
        data->tblBanned->refresh();
        EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({"Newer", "Older"}));
    }

    QTemporaryDir tools_;
    QByteArray path_ = qgetenv("PATH");
};

TEST_F(SweepTest, AFileOfExactlyTheThresholdIsLeftAlone)
{
    growTo(TDataPalisor::SweepThreshold);
    data->SweepDatabase();
    EXPECT_FALSE(QFile::exists(data->backupPath()));
    EXPECT_FALSE(logged("Performing Database Sweep"));
    EXPECT_TRUE(data->tblSettings->isOpen());
}

TEST_F(SweepTest, OneByteMoreIsCompactedWithEveryRowKept)
{
    data->BanPlayer("O'Neil", "1.2.3.4");
    data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    growTo(TDataPalisor::SweepThreshold + 1);
    data->SweepDatabase();
    EXPECT_TRUE(logged("Performing Database Sweep"));
    EXPECT_EQ(QFileInfo(data->backupPath()).size(), TDataPalisor::SweepThreshold + 1);
    EXPECT_TRUE(QFile::exists(data->gbkPath()));
    EXPECT_LT(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold);
    EXPECT_TRUE(data->tblMapAlias->isOpen());
    EXPECT_EQ(data->tblBanned->text("NAME"), "O`Neil");
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Amy");
    EXPECT_EQ(data->tblSettings->text("PORT"), "12203");

    // A second cycle replaces the previous backup files.
    growTo(TDataPalisor::SweepThreshold + 2);
    data->SweepDatabase();
    EXPECT_EQ(QFileInfo(data->backupPath()).size(), TDataPalisor::SweepThreshold + 2);
    EXPECT_EQ(data->tblBanned->text("NAME"), "O`Neil");
}

TEST_F(SweepTest, ACompactedFileStillPastTheThresholdWaitsUntilItHasDoubled)
{
    // The restored file keeps 12,000,000 bytes, as live data of that size would.
    standInGbak("/usr/bin/gbak \"$@\" || exit\n"
                "if [ \"$1\" = -r ]; then for last; do :; done; truncate -s 12000000 \"$last\"; fi");
    const QString cycle = "Performing Database Sweep";
    growTo(TDataPalisor::SweepThreshold + 1);
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 1);
    EXPECT_EQ(QFileInfo(data->databasePath()).size(), 12'000'000);

    data->SweepDatabase();
    growTo(24'000'000);
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 1);

    growTo(24'000'001);
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 2);
    EXPECT_EQ(QFileInfo(data->backupPath()).size(), 24'000'001);

    // A cycle that compacts below the threshold brings the threshold back.
    qputenv("PATH", path_);
    growTo(24'000'001);
    data->SweepDatabase();
    growTo(TDataPalisor::SweepThreshold + 1);
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 4);
}

class FailingSweepTest : public SweepTest {
protected:
    // One good cycle leaves an older .GBK behind; then a newer row arrives.
    void SetUp() override
    {
        data->BanPlayer("Older", "1.1.1.1");
        growTo(TDataPalisor::SweepThreshold + 1);
        data->SweepDatabase();
        data->BanPlayer("Newer", "2.2.2.2");
        growTo(TDataPalisor::SweepThreshold + 1);
    }

    QString sweepFailure()
    {
        try {
            data->SweepDatabase();
        } catch (const Error& e) {
            return e.message();
        }
        return QString();
    }
};

TEST_F(FailingSweepTest, NoBackupToolLeavesTheLiveDatabase)
{
    noGbak();
    const QString failure = sweepFailure();
    EXPECT_TRUE(failure.startsWith("Database sweep failed")) << failure.toStdString();
    EXPECT_TRUE(failure.contains("CREATE PROCESS FAILED:gbak -b")) << failure.toStdString();
    expectNewestDataLive();
}

TEST_F(FailingSweepTest, AFailingBackupNeverRestoresTheOlderOne)
{
    standInGbak("exit 1");
    const QString failure = sweepFailure();
    EXPECT_TRUE(failure.contains("could not back up")) << failure.toStdString();
    expectNewestDataLive();
}

TEST_F(FailingSweepTest, AFailingRestoreLeavesNoHalfFile)
{
    standInGbak("if [ \"$1\" = -b ]; then exec /usr/bin/gbak \"$@\"; fi\n"
                "for last; do :; done\necho broken > \"$last\"\nexit 3");
    const QString failure = sweepFailure();
    EXPECT_TRUE(failure.contains("could not restore")) << failure.toStdString();
    expectNewestDataLive();
    // The monitor's next poll tries again and succeeds with the real tool.
    qputenv("PATH", path_);
    data->SweepDatabase();
    expectNewestDataLive();
}

// A second attachment made on a thread of its own, as the monitor engine
// keeps one: each side reads a snapshot until it resynchronises, and the
// maintenance cycle has it let go of the file and come back.
TEST_F(SweepTest, AnAttachmentOnAnotherThreadSeesCommitsOnResynchronisingAndLetsGoForTheCycle)
{
    QThread thread;
    thread.start();
    QObject onThread;
    onThread.moveToThread(&thread);
    const auto there = [&onThread](const std::function<void()>& work) {
        QMetaObject::invokeMethod(&onThread, work, Qt::BlockingQueuedConnection);
    };
    std::unique_ptr<TDataPalisor> other;
    there([&] {
        other = std::make_unique<TDataPalisor>(db.folder());
        other->OpenAttachment();
        other->BanPlayer("Kim", "5.5.5.5");
    });
    data->tblBanned->refresh();
    EXPECT_EQ(data->tblBanned->rowCount(), 0);
    data->Resynchronise({data->tblBanned});
    EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({"Kim"}));

    data->BanPlayer("Lee", "6.6.6.6");
    data->setOtherAttachments([&] { there([&] { other->DisconnectDatabase(); }); },
                              [&] { there([&] { other->Resynchronise(other->tables()); }); });
    growTo(TDataPalisor::SweepThreshold + 1);
    data->SweepDatabase();
    EXPECT_LT(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold);
    QStringList seen;
    there([&] {
        seen = column(other->tblBanned, "NAME");
        other.reset();
    });
    EXPECT_EQ(seen, QStringList({"Kim", "Lee"}));
    thread.quit();
    thread.wait();
}

TEST_F(SweepTest, AMissingLiveFileFailsBeforeAnythingElse)
{
    data->DisconnectDatabase();
    ASSERT_TRUE(QFile::remove(data->databasePath()));
    EXPECT_THROW(data->SweepDatabase(), Error);
    EXPECT_FALSE(logged("Performing Database Sweep"));
}

}  // namespace
