// What the database engine itself keeps private in a process, for the memory
// comparison of the two front ends: the soak's database, made and filled the
// same way, attached once without any of Palisor's own code and every table
// read through, as the programs' attachments read them. Prints its private
// resident memory (RssAnon) as "engine private N kB".
//
//   palisor-soak-engine
#include "bench/soak/churn.h"
#include "store/datapalisor.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <malloc.h>

using namespace palisor;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    soak::Ground ground;
    const QString path = ground.db.databasePath();
    // The data module filled the lists; what it held is no engine memory.
    ground.data.reset();
    malloc_trim(0);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), QStringLiteral("engine"));
        db.setDatabaseName(path);
        db.setUserName(QString::fromLatin1(TDataPalisor::DbUser));
        db.setPassword(QString::fromLatin1(TDataPalisor::DbPassword));
        if (!db.open()) {
            std::fprintf(stderr, "palisor-soak-engine: cannot attach: %s\n", qPrintable(db.lastError().text()));
            return 1;
        }
        for (const QString& table : db.tables()) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("SELECT * FROM ") + table))
                continue;
            while (query.next()) {
            }
        }
        std::printf("engine private %lld kB\n", static_cast<long long>(soak::Measure().privateKb));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("engine"));
    return 0;
}
