// The one-time upgrade of an older database meeting a disk too full for it,
// and a process killed in the middle of it: the database is never lost.
#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

using namespace palisor;
using palisor::test::TempDatabase;

namespace {

void App()
{
    static int argc = 1;
    static char name[] = "faults_upgrade_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

QString Log(const TDataPalisor& data)
{
    QFile log(data.logPath());
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
}

// A small filesystem of its own over a folder, for as long as the object
// lives; only root can make one.
struct SmallDisk {
    SmallDisk(const QString& folder, qint64 bytes) : folder(folder)
    {
        mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(bytes), "tmpfs",
                                              folder}) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute("umount", {folder});
    }
    QString folder;
    bool mounted = false;
};

TEST(UpgradeFaultTest, ADiskWithoutRoomForTheUpgradeLeavesTheDatabaseAsItWas)
{
    App();
    TempDatabase db(TempDatabase::Made::BeforeHistory);
    QFile original(db.databasePath());
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray content = original.readAll();
    original.close();
    // Barely larger than the file, as a nearly full disk.
    SmallDisk disk(db.dataFolder(), content.size() + 64 * 1024);
    if (!disk.mounted)
        GTEST_SKIP() << "a tmpfs cannot be mounted here";
    {
        QFile onDisk(db.databasePath());
        ASSERT_TRUE(onDisk.open(QIODevice::WriteOnly));
        ASSERT_EQ(onDisk.write(content), content.size());
    }
    {
        auto data = db.createDataModule();
        EXPECT_FALSE(data->HasHistory());
        EXPECT_TRUE(Log(*data).contains(QStringLiteral("free beside %1, the upgrade needs").arg(db.databasePath())))
            << Log(*data).toStdString();
        EXPECT_FALSE(QFile::exists(data->upgradeCopyPath()));
        data->BanPlayer("Kept", "1.2.3.4");
        data->DataModuleDestroy();
    }
    EXPECT_EQ(palisor::test::ValidateDatabase(db.databasePath()), QString());
    auto again = db.createDataModule();
    EXPECT_EQ(again->tblBanned->text("NAME"), "Kept");
}

TEST(UpgradeFaultTest, AnUpgradeCutShortIsUndoneAtTheNextStart)
{
    App();
    TempDatabase db(TempDatabase::Made::BeforeHistory);
    const QString copy = db.dataFolder() + "/PALISOR.UPG";
    ASSERT_TRUE(QFile::copy(db.databasePath(), copy));
    {
        // The first page overwritten, as a full disk once left it.
        QFile live(db.databasePath());
        ASSERT_TRUE(live.open(QIODevice::ReadWrite));
        live.write(QByteArray(8192, '\0'));
    }
    QFile(copy + ".new").open(QIODevice::WriteOnly);   // a copy cut short

    auto data = db.createDataModule();
    EXPECT_TRUE(data->HasHistory());
    EXPECT_TRUE(Log(*data).contains("Restored the database from " + copy)) << Log(*data).toStdString();
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_FALSE(QFile::exists(copy + ".new"));
}

}  // namespace
