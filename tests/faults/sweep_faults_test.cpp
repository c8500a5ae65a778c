// The maintenance cycle meeting faults a real machine has: the program
// killed while the live file is moved aside, and a disk that fills up while
// the compact copy is restored. Whatever happens, the newest data is in the
// live file afterwards, at once or after the next start-up.
#include "core/error.h"
#include "core/timing.h"
#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace palisor;

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "faults_sweep_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

QStringList Names(LiveTable* table)
{
    QStringList names;
    for (int row = 0; row < table->rowCount(); ++row)
        names << table->value(row, QStringLiteral("NAME")).toString();
    return names;
}

class SweepFaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ASSERT_TRUE(tools_.isValid());
        // One good cycle leaves an older backup behind; the newest row comes after it.
        auto data = db.createDataModule();
        data->BanPlayer(QStringLiteral("Older"), QStringLiteral("1.1.1.1"));
        GrowBeyondThreshold(*data);
        data->SweepDatabase();
        data->BanPlayer(QStringLiteral("Newer"), QStringLiteral("2.2.2.2"));
        GrowBeyondThreshold(*data);
        data->DataModuleDestroy();
    }

    void TearDown() override { qputenv("PATH", path_); }

    // The size check looks at the file's length, which page allocation grows.
    static void GrowBeyondThreshold(TDataPalisor& data)
    {
        data.DisconnectDatabase();
        QFile file(data.databasePath());
        ASSERT_TRUE(file.resize(TDataPalisor::SweepThreshold + 1));
        data.ConnectDatabase();
    }

    // A gbak found before the real one, running the given shell text with
    // the real tool's arguments.
    QString StandInGbak(const QByteArray& script)
    {
        QFile tool(tools_.filePath(QStringLiteral("gbak")));
        EXPECT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n" + script + "\n");
        tool.close();
        tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
        return tools_.path() + QLatin1Char(':') + QString::fromLocal8Bit(path_);
    }

    QString File(const char* name) const { return db.dataFolder() + QLatin1Char('/') + QLatin1String(name); }

    // Runs one cycle in a separate program with the given PATH.
    int RunCycle(const QString& path, QString* errors)
    {
        QProcess cycle;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), path);
        cycle.setProcessEnvironment(environment);
        cycle.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + QStringLiteral("/tests/faults/faults_sweep_driver"),
                    {db.folder()});
        EXPECT_TRUE(cycle.waitForFinished(120000));
        *errors = QString::fromLocal8Bit(cycle.readAllStandardError());
        return cycle.exitStatus() == QProcess::CrashExit ? -1 : cycle.exitCode();
    }

    test::TempDatabase db;
    QTemporaryDir tools_;
    QByteArray path_ = qgetenv("PATH");
};

// Where the stand-in kills the program that runs it: while gbak backs the
// moved file up, before it restores, or once the compact copy is complete.
struct KillPoint {
    const char* name;
    const char* script;
};

class KilledCycleTest : public SweepFaultTest, public ::testing::WithParamInterface<KillPoint> {};

TEST_P(KilledCycleTest, TheNextStartUpPutsTheNewestDataBack)
{
    QString errors;
    EXPECT_EQ(RunCycle(StandInGbak(GetParam().script), &errors), -1) << errors.toStdString();

    // The program died with the live file moved aside.
    EXPECT_FALSE(QFile::exists(db.databasePath()));
    ASSERT_TRUE(QFile::exists(File("PALISOR.BKP")));

    auto data = db.createDataModule();
    EXPECT_TRUE(QFile::exists(db.databasePath()));
    // Neither the copies of the cut cycle nor its possibly partial backup stay.
    for (const char* left : {"PALISOR.BKP", "PALISOR.NEW", "PALISOR.GBK"})
        EXPECT_FALSE(QFile::exists(File(left))) << left;
    EXPECT_TRUE(data->tblBanned->isOpen());
    EXPECT_EQ(Names(data->tblBanned), QStringList({"Newer", "Older"}));

    // What the interrupted cycle left behind does not disturb the next one.
    GrowBeyondThreshold(*data);
    data->SweepDatabase();
    EXPECT_LT(QFile(db.databasePath()).size(), TDataPalisor::SweepThreshold);
    EXPECT_FALSE(QFile::exists(File("PALISOR.NEW")));
    EXPECT_EQ(Names(data->tblBanned), QStringList({"Newer", "Older"}));
    data->DataModuleDestroy();
    data.reset();
    EXPECT_EQ(test::ValidateDatabase(db.databasePath()), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Points, KilledCycleTest,
    ::testing::Values(
        KillPoint{"DuringTheBackup",
                  "if [ \"$1\" = -b ]; then for last; do :; done; echo partial > \"$last\"; kill -9 $PPID; exit 1; fi\n"
                  "exec /usr/bin/gbak \"$@\""},
        KillPoint{"BeforeTheRestore", "if [ \"$1\" = -r ]; then kill -9 $PPID; exit 1; fi\nexec /usr/bin/gbak \"$@\""},
        KillPoint{"AfterTheRestore", "/usr/bin/gbak \"$@\" || exit $?\nif [ \"$1\" = -r ]; then kill -9 $PPID; fi"}),
    [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

TEST_F(SweepFaultTest, ARestoreThatRunsOutOfRoomLeavesTheLiveDatabase)
{
    // The real tool restores with room for a few pages only, as on a full disk.
    qputenv("PATH", StandInGbak("if [ \"$1\" = -r ]; then ulimit -f 64; trap '' XFSZ; fi\n"
                                "exec /usr/bin/gbak \"$@\"").toLocal8Bit());
    auto data = db.createDataModule();
    try {
        data->SweepDatabase();
        FAIL() << "the cycle reported success";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().startsWith("Database sweep failed: gbak could not restore")) << e.message().toStdString();
    }
    EXPECT_TRUE(QFile::exists(db.databasePath()));
    EXPECT_FALSE(QFile::exists(File("PALISOR.BKP")));
    EXPECT_FALSE(QFile::exists(File("PALISOR.NEW")));
    EXPECT_EQ(QFile(db.databasePath()).size(), TDataPalisor::SweepThreshold + 1);
    ASSERT_TRUE(data->tblBanned->isOpen());
    data->tblBanned->refresh();
    EXPECT_EQ(Names(data->tblBanned), QStringList({"Newer", "Older"}));

    // Changes go on being stored, and once there is room the cycle succeeds
    // (tried again an hour later).
    data->BanPlayer(QStringLiteral("Newest"), QStringLiteral("3.3.3.3"));
    qputenv("PATH", path_);
    const QDateTime later = QDateTime::currentDateTime().addSecs(TDataPalisor::SweepRetrySeconds);
    setClockFunction([later] { return later; });
    data->SweepDatabase();
    setClockFunction({});
    EXPECT_EQ(Names(data->tblBanned), QStringList({"Newer", "Newest", "Older"}));
    data->DataModuleDestroy();
    data.reset();
    EXPECT_EQ(test::ValidateDatabase(db.databasePath()), QString());
}

}  // namespace
