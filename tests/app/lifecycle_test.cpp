#include "core/places.h"
#include "core/singleinstance.h"
#include "tests/support/db/tempdatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QSettings>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <signal.h>
#include <unistd.h>

namespace {

const QByteArray alreadyRunning =
    "Palisor: Palisor is already running.\r\nDouble click the icon in the system tray.\n";

// Each test runs a private portable copy of Palisor (a data folder beside
// it), so that whatever it would create beside itself lands in a fresh
// folder, and a private runtime folder, so that its lock meets only the
// copies of this test.
class PalisorProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "app_singleinstance_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void SetUp() override
    {
        installIn(bin_.path());
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert("XDG_RUNTIME_DIR", runtime_.path());
        environment_.insert("PALISOR_NONINTERACTIVE", "1");
        environment_.insert("QT_QPA_PLATFORM", "offscreen");
    }

    void TearDown() override
    {
        for (auto& process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    void installIn(const QString& folder)
    {
        const QString built = qEnvironmentVariable("PALISOR_BUILD_DIR") + "/palisor";
        ASSERT_TRUE(QFileInfo(built).isExecutable()) << built.toStdString();
        folder_ = folder;
        palisor_ = QDir(folder).filePath("palisor");
        ASSERT_TRUE(QFile::copy(built, palisor_));
        ASSERT_TRUE(QDir(folder).mkpath("data"));
    }

    QProcess& start(const QString& program, const QStringList& arguments)
    {
        processes_.push_back(std::make_unique<QProcess>());
        QProcess& process = *processes_.back();
        process.setProcessEnvironment(environment_);
        process.setWorkingDirectory(elsewhere_.path());
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForStarted()) << program.toStdString();
        return process;
    }

    QString helper() const { return QCoreApplication::applicationDirPath() + "/app_test_helper"; }

    // The first copy: holds the lock as a running Palisor does.
    QProcess& holdLock()
    {
        QProcess& holder = start(helper(), {"hold", "Palisor"});
        EXPECT_TRUE(holder.waitForReadyRead(10000));
        EXPECT_EQ(holder.readAllStandardOutput(), "held\n");
        return holder;
    }

    bool lockIsHeld()
    {
        QProcess& probe = start(helper(), {"probe", "Palisor"});
        EXPECT_TRUE(probe.waitForFinished());
        return probe.exitCode() == 1;
    }

    static QString workingFolderOf(const QProcess& process)
    {
        return QFileInfo(QStringLiteral("/proc/%1/cwd").arg(process.processId())).symLinkTarget();
    }

    // Up and idle: the database is open and the main thread waits in the
    // message loop.
    static bool runningIdle(const QProcess& process, const QString& database)
    {
        const QString proc = QStringLiteral("/proc/%1").arg(process.processId());
        bool open = false;
        for (const QFileInfo& fd : QDir(proc + "/fd").entryInfoList(QDir::Files | QDir::System))
            open = open || fd.symLinkTarget() == database;
        QFile wchan(proc + "/wchan");
        return open && wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("poll");
    }

    QTemporaryDir runtime_, bin_, elsewhere_;
    QString folder_, palisor_;
    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(PalisorProcess, SecondCopyOnlyShowsTheMessage)
{
    QProcess& first = holdLock();
    QProcess& second = start(palisor_, {});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardError(), alreadyRunning);
    EXPECT_EQ(second.readAllStandardOutput(), "");
    // Nothing was created beside the program or where it was started.
    EXPECT_EQ(QDir(bin_.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList({"data", "palisor"}));
    EXPECT_TRUE(QDir(bin_.path() + "/data").isEmpty());
    EXPECT_TRUE(QDir(elsewhere_.path()).isEmpty());
    // The running copy is not disturbed.
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(lockIsHeld());
}

TEST_F(PalisorProcess, CopyStartsNormallyAfterTheFirstWasKilled)
{
    QProcess& first = holdLock();
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished());

    QProcess& second = start(palisor_, {});
    // Past the guard, start-up moves into the program's own folder before
    // touching any data, though it was started from elsewhere.
    QString folder;
    for (int i = 0; i < 600 && second.state() == QProcess::Running; ++i) {
        folder = workingFolderOf(second);
        if (folder == bin_.path())
            break;
        QThread::msleep(50);
    }
    ASSERT_EQ(second.state(), QProcess::Running) << second.readAllStandardError().toStdString();
    EXPECT_EQ(folder, bin_.path());
    EXPECT_TRUE(lockIsHeld());
    EXPECT_FALSE(second.readAllStandardError().contains("already running"));
}

// SIGTERM, and SIGHUP when the terminal that started it closes.
TEST_F(PalisorProcess, TerminationShutsDownInOrder)
{
    palisor::test::TempDatabase db;
    installIn(db.folder());
    for (const int signal : {SIGTERM, SIGHUP}) {
        {
            auto data = db.createDataModule();
            data->RecordPlayer("03", "Bob", "10.0.0.3", "12203", "050");
            ASSERT_EQ(data->CountRows(data->tblPlayers), 1);
        }
        QFile::remove(db.folder() + "/Palisor.INI");

        QProcess& running = start(palisor_, {});
        for (int i = 0; i < 1200 && running.state() == QProcess::Running; ++i) {
            if (runningIdle(running, db.databasePath()))
                break;
            QThread::msleep(50);
        }
        ASSERT_TRUE(runningIdle(running, db.databasePath())) << running.readAllStandardError().toStdString();

        ::kill(static_cast<pid_t>(running.processId()), signal);
        ASSERT_TRUE(running.waitForFinished(60000)) << signal;
        EXPECT_EQ(running.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(running.exitCode(), 0);
        EXPECT_FALSE(lockIsHeld());

        // The main window closed as by Exit and was destroyed (it saves its
        // position), and the data module emptied PLAYERS and committed
        // before the process ended.
        EXPECT_TRUE(QSettings(db.folder() + "/Palisor.INI", QSettings::IniFormat).contains("Main/NormalPos"));
        QFile log(db.dataFolder() + "/PALISOR.LOG");
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(log.readAll().contains("Exit Called by SIG" + QByteArray(sigabbrev_np(signal))));
        auto data = db.createDataModule();
        EXPECT_EQ(data->CountRows(data->tblPlayers), 0);
        EXPECT_EQ(data->CountRows(data->tblRecent), 1);
    }
}

TEST(SingleInstanceLock, FileLivesInTheUsersOwnRuntimeFolder)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime, foreign;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString inRuntime = palisor::SingleInstanceLockPath("Palisor");
    // Another user's runtime folder, as a root shell inherits it from su or sudo -E.
    const QString other = ::geteuid() == 0 && ::chown(QFile::encodeName(foreign.path()).constData(), 65534, 65534) == 0
                              ? foreign.path()
                              : QStringLiteral("/");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(other));
    const QString inOthers = palisor::SingleInstanceLockPath("Palisor");
    const QString othersLocks = palisor::OwnRuntimeFolder();
    qunsetenv("XDG_RUNTIME_DIR");
    const QString inTemp = palisor::SingleInstanceLockPath(QString(120, 'x'));
    qputenv("XDG_RUNTIME_DIR", saved);

    EXPECT_EQ(inRuntime, runtime.path() + "/Palisor.lock");
    EXPECT_TRUE(inTemp.startsWith(QDir::tempPath() + "/" + QString(103, 'x') + "."));
    EXPECT_TRUE(inTemp.endsWith(".lock"));
    EXPECT_TRUE(inOthers.startsWith(QDir::tempPath() + "/Palisor.")) << inOthers.toStdString();
    EXPECT_EQ(othersLocks, QString());
}

// A data folder beside the program makes a portable copy; without one the
// user's XDG folders hold the data and the settings, and the schema and the
// manual are read from share/palisor beside bin.
TEST(Places, PortableBesideItsDataOtherwiseTheUsersFolders)
{
    QTemporaryDir prefix, home;
    const QString bin = prefix.path() + "/bin";
    ASSERT_TRUE(QDir().mkpath(bin));
    const QByteArray savedData = qgetenv("XDG_DATA_HOME"), savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    const palisor::Places installed = palisor::FindPlaces(bin);
    ASSERT_TRUE(QDir().mkpath(bin + "/data"));
    const palisor::Places portable = palisor::FindPlaces(bin);
    qputenv("XDG_DATA_HOME", savedData);
    qputenv("XDG_CONFIG_HOME", savedConfig);

    EXPECT_TRUE(installed.installed);
    EXPECT_EQ(installed.dataFolder, home.path() + "/data/palisor");
    EXPECT_EQ(installed.iniFile, home.path() + "/config/palisor/Palisor.INI");
    EXPECT_EQ(installed.schemaFile(), prefix.path() + "/share/palisor/schema.sql");
    EXPECT_EQ(installed.manualShortcut(), prefix.path() + "/share/palisor/manual.url");
    EXPECT_FALSE(portable.installed);
    EXPECT_EQ(portable.dataFolder, bin + "/data");
    EXPECT_EQ(portable.iniFile, bin + "/Palisor.INI");
    EXPECT_EQ(portable.manualShortcut(), bin + "/manual.url");
}

}  // namespace
