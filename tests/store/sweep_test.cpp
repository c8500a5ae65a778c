#include "core/datafiles.h"
#include "core/error.h"
#include "core/timing.h"
#include "store/letgo.h"
#include "tests/store/storetest.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <optional>
#include <sys/stat.h>

using namespace palisor;
using palisor::test::StoreTest;

namespace {

class SweepTest : public StoreTest {
protected:
    ~SweepTest() override
    {
        qputenv("PATH", path_);
        setClockFunction({});
    }

    void hoursLater(int hours)
    {
        const QDateTime later = QDateTime::currentDateTime().addSecs(hours * 3600);
        setClockFunction([later] { return later; });
    }

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

// Another program's cycle, or another server's engine's in this program,
// holds the mark: this one asks nobody to let go, and so tells nobody to come
// back in the middle of the running cycle.
TEST_F(SweepTest, ACycleThatFindsAnotherRunningAsksNobodyToLetGoNorToComeBack)
{
    growTo(TDataPalisor::SweepThreshold + 1);
    int released = 0;
    int resumed = 0;
    data->setOtherAttachments([&] { ++released; return QString(); }, [&](bool) { ++resumed; });
    CycleMark running(data->dataFolder());
    ASSERT_TRUE(running.take());
    data->SweepDatabase();
    EXPECT_EQ(released, 0);
    EXPECT_EQ(resumed, 0);
    EXPECT_TRUE(logged("Database Sweep postponed: another attachment is compacting the database"));
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

TEST_F(FailingSweepTest, AFailingRestoreLeavesNoHalfFileAndWaitsAnHourOrADoubledFile)
{
    standInGbak("if [ \"$1\" = -b ]; then exec /usr/bin/gbak \"$@\"; fi\n"
                "for last; do :; done\necho broken > \"$last\"\nexit 3");
    const QString failure = sweepFailure();
    EXPECT_TRUE(failure.contains("could not restore")) << failure.toStdString();
    EXPECT_TRUE(QFile::exists(data->gbkPath()));   // the backup itself succeeded
    expectNewestDataLive();

    // The polls that follow leave the file alone for an hour...
    const QString cycle = "Performing Database Sweep";
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 2);
    hoursLater(1);
    EXPECT_TRUE(sweepFailure().contains("could not restore"));
    EXPECT_EQ(timesLogged(cycle), 3);

    // ...unless it has doubled meanwhile.
    qputenv("PATH", path_);
    growTo(2 * (TDataPalisor::SweepThreshold + 1));
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 3);
    growTo(2 * (TDataPalisor::SweepThreshold + 1) + 1);
    data->SweepDatabase();
    EXPECT_EQ(timesLogged(cycle), 4);
    expectNewestDataLive();
}

TEST_F(FailingSweepTest, AKilledBackupLeavesNoPartialCopyAndTellsWhatGbakSaid)
{
    // gbak cannot reach a terminal: on a full disk it would ask there for
    // another file and wait.
    standInGbak("read -r pid comm state ppid group session rest < /proc/$$/stat\n"
                "[ \"$session\" = $$ ] || echo 'shares a terminal'\n"
                "read -r answer && echo \"read $answer\"\n"
                "for last; do :; done\necho partial > \"$last\"\n"
                "echo 'gbak: ERROR:I/O error during \"write\" operation' >&2\n"
                "echo 'gbak:Exiting before completion due to errors'\nkill -9 $$");
    std::optional<bool> reported;
    data->setOtherAttachments([] { return QString(); }, [&](bool completed) { reported = completed; });
    const QString failure = sweepFailure();
    EXPECT_EQ(failure, "Database sweep failed: gbak could not back up " + data->backupPath()
                           + ": gbak: ERROR:I/O error during \"write\" operation; "
                             "gbak:Exiting before completion due to errors");
    EXPECT_FALSE(QFile::exists(data->gbkPath()));
    EXPECT_EQ(reported, false);
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
    std::optional<bool> reported;
    data->setOtherAttachments([&] {
                                  there([&] { other->DisconnectDatabase(); });
                                  return QString();
                              },
                              [&](bool completed) {
                                  reported = completed;
                                  there([&] { other->Resynchronise(other->tables()); });
                              });
    growTo(TDataPalisor::SweepThreshold + 1);
    data->SweepDatabase();
    EXPECT_LT(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold);
    EXPECT_EQ(reported, true);
    QStringList seen;
    there([&] {
        seen = column(other->tblBanned, "NAME");
        other.reset();
    });
    EXPECT_EQ(seen, QStringList({"Kim", "Lee"}));
    thread.quit();
    thread.wait();
}

// The cycle of another attachment, run on a thread of its own as the
// monitor engine runs it, while this thread's module stays idle and hears
// its requests.
class SharedSweepTest : public SweepTest {
protected:
    SharedSweepTest()
    {
        thread_.start();
        onThread_.moveToThread(&thread_);
        there([&] {
            cycler_ = std::make_unique<TDataPalisor>(db.folder());
            cycler_->OpenAttachment();
        });
    }
    ~SharedSweepTest() override
    {
        there([&] { cycler_.reset(); });
        thread_.quit();
        thread_.wait();
    }

    void there(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(&onThread_, work, Qt::BlockingQueuedConnection);
    }

    // One poll's cycle; this thread handles its events meanwhile.
    void cycle()
    {
        std::atomic<bool> done{false};
        QMetaObject::invokeMethod(&onThread_, [&] {
            cycler_->SweepDatabase();
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    QThread thread_;
    QObject onThread_;
    std::unique_ptr<TDataPalisor> cycler_;
};

TEST_F(SharedSweepTest, AnIdleAttachmentLetsGoAndComesBackButNotMidEdit)
{
    data->BanPlayer("Kim", "5.5.5.5");
    growTo(TDataPalisor::SweepThreshold + 1);
    LetGoWatch watch(*data, [&] { data->Resynchronise({data->tblBanned}); });
    int letGo = 0;
    int back = 0;
    QObject::connect(&watch, &LetGoWatch::letGo, [&] { ++letGo; });
    QObject::connect(&watch, &LetGoWatch::cameBack, [&] { ++back; });

    // A row being typed keeps the file: the cycle waits for a later poll.
    data->tblIllegal->insert();
    cycle();
    EXPECT_EQ(letGo, 0);
    EXPECT_TRUE(logged("Database Sweep postponed: the database is still open in"));
    EXPECT_FALSE(logged("Performing Database Sweep"));
    data->tblIllegal->setValue("NAME", "camper");
    data->tblIllegal->post();

    there([&] { cycler_->BanPlayer("Lee", "6.6.6.6"); });
    cycle();
    EXPECT_EQ(timesLogged("Performing Database Sweep"), 1);
    EXPECT_LT(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold);
    EXPECT_EQ(letGo, 1);
    // A poll before the watch looks again connects it through its own work,
    // and every list it had open is there for the rules.
    data->Resynchronise({});
    EXPECT_TRUE(data->tblIllegal->isOpen() && data->tblImmune->isOpen());
    EXPECT_TRUE(data->IsIllegalName("camper"));
    // Back by itself once the cycle has ended, with every row.
    QDeadlineTimer deadline(10000);
    while (back == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(back, 1);
    EXPECT_FALSE(watch.away());
    EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({"Kim", "Lee"}));
    data->Resynchronise({data->tblIllegal});
    EXPECT_EQ(column(data->tblIllegal, "NAME"), QStringList({"camper"}));
    there([&] { EXPECT_EQ(cycler_->OtherAttachments().size(), 1); });
}

TEST_F(SharedSweepTest, AnAttachmentThatNeverLetsGoPostponesTheCycleSayingSoOnce)
{
    growTo(TDataPalisor::SweepThreshold + 1);
    QStringList postponed;
    QObject::connect(cycler_.get(), &TDataPalisor::cyclePostponed, [&](const QString& why) { postponed << why; });
    cycle();
    cycle();
    EXPECT_EQ(postponed.size(), 1);
    // The holder is named, so the log says whom to close.
    EXPECT_TRUE(postponed.value(0).startsWith("the database is still open in store_sweep_test (process "))
        << postponed.value(0).toStdString();
    EXPECT_EQ(timesLogged("Database Sweep postponed"), 1);
    EXPECT_FALSE(QFile::exists(data->backupPath()));
    EXPECT_EQ(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold + 1);
    // Both carry on.
    data->BanPlayer("Kim", "5.5.5.5");
    there([&] {
        cycler_->Resynchronise({cycler_->tblBanned});
        EXPECT_EQ(column(cycler_->tblBanned, "NAME"), QStringList({"Kim"}));
    });

    // Once it has gone the next poll runs the cycle, and a later hold-up is
    // news again.
    data->DisconnectDatabase();
    cycle();
    EXPECT_EQ(timesLogged("Performing Database Sweep"), 1);
    data->ConnectDatabase();
    EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({"Kim"}));
    growTo(TDataPalisor::SweepThreshold + 1);
    cycle();
    EXPECT_EQ(timesLogged("Database Sweep postponed"), 2);
}

// An idle program beside this one lets go of the file for the cycle and
// comes back to every row.
TEST_F(SweepTest, AnotherProgramLetsGoForTheCycleAndComesBack)
{
    QProcess idle;
    idle.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + "/tests/store/store_change_helper", {"--idle", db.folder()});
    QByteArray said;
    const auto waitFor = [&](const QByteArray& line) {
        while (!said.contains(line) && idle.waitForReadyRead(30000))
            said += idle.readAllStandardOutput();
        return said.contains(line);
    };
    ASSERT_TRUE(waitFor("ready")) << idle.readAllStandardError().toStdString();
    data->BanPlayer("Kim", "5.5.5.5");
    growTo(TDataPalisor::SweepThreshold + 1);
    data->SweepDatabase();
    EXPECT_EQ(timesLogged("Performing Database Sweep"), 1);
    EXPECT_FALSE(logged("postponed"));
    EXPECT_LT(QFileInfo(data->databasePath()).size(), TDataPalisor::SweepThreshold);
    EXPECT_TRUE(waitFor("back 1")) << said.toStdString();
    EXPECT_EQ(said, "ready\nlet go\nback 1\n") << idle.readAllStandardError().toStdString();
    EXPECT_EQ(data->OtherAttachments().size(), 1);
    idle.kill();
    idle.waitForFinished();
}

// The database and gbak's backup hold the console password: whatever the
// umask, the files are the user's alone, or his and his group's in a folder
// shared with it (the service's).
TEST_F(SweepTest, DataFilesAreNeverReadableByOthers)
{
    const auto modeOf = [](const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
    };
    const QString folder = data->dataFolder();
    const QStringList made{data->databasePath(), data->logPath(), data->gbkPath(), data->backupPath()};
    for (const int folderMode : {0755, 02770}) {
        data.reset();
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), folderMode), 0);
        ::umask(022);
        for (const QString& file : {made[0], made[1]})
            ::chmod(QFile::encodeName(file).constData(), 0644);
        data = db.createDataModule();
        growTo(TDataPalisor::SweepThreshold + 1);
        data->SweepDatabase();
        const int expected = folderMode == 0755 ? 0600 : 0660;
        for (const QString& file : made)
            EXPECT_EQ(modeOf(file), expected) << file.toStdString() << " in a folder " << std::oct << folderMode;
    }

    // The engine's lock files, in the folder's lock folder.
    QFile lockFile(folder + "/firebird-locks/fb_mode_probe");
    ASSERT_TRUE(lockFile.open(QIODevice::WriteOnly));
    lockFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    ProtectDataFolder(folder);
    EXPECT_EQ(modeOf(lockFile.fileName()), 0660);
    EXPECT_EQ(modeOf(folder + "/firebird-locks"), 02770);
    lockFile.remove();
}

TEST_F(SweepTest, AMissingLiveFileFailsBeforeAnythingElse)
{
    data->DisconnectDatabase();
    ASSERT_TRUE(QFile::remove(data->databasePath()));
    EXPECT_THROW(data->SweepDatabase(), Error);
    EXPECT_FALSE(logged("Performing Database Sweep"));
}

}  // namespace
