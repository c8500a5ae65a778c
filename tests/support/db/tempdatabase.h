#pragma once

#include "store/datapalisor.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace palisor::test {

// A throw-away folder holding data/PALISOR.GDB, made from the product's own
// schema file (named by the PALISOR_SCHEMA environment variable, which CTest
// sets for every palisor_test). The folder and everything in it go away with
// the object. Throws palisor::Error when the database cannot be made.
// The test process and the programs it starts on the folder share the
// database at once, as Palisor's programs do.
//
//   palisor::test::TempDatabase db;
//   auto data = db.createDataModule();        // connected, tables open
//   data->tblBanned->insert(); ...
//
// A QCoreApplication (or QApplication) must exist first.
class TempDatabase {
public:
    enum class Made {
        ByCreateDb,      // as scripts/create-db leaves it
        BeforeHistory,   // by a Palisor from before the penalty log, never upgraded
    };
    explicit TempDatabase(Made made = Made::ByCreateDb);

    QString folder() const;         // the folder to give TDataPalisor
    QString dataFolder() const;     // folder()/data
    QString databasePath() const;   // folder()/data/PALISOR.GDB

    // A data module on this folder with DataModuleCreate already run.
    std::unique_ptr<TDataPalisor> createDataModule() const;

private:
    QTemporaryDir dir_;
};

// The engine's full validation (gfix -v -full) of a closed database file:
// empty for a sound one, else gfix's exit code and report.
QString ValidateDatabase(const QString& file);

// The penalty log oldest first, one line per event:
// "KIND|CLIENTID|NAME|ADDRESS|REASON|SOURCE", NULL as empty.
QStringList RecordedEvents(const TDataPalisor& data);

// The samples oldest first: "PLAYERCOUNT/MAXPLAYERS MAPNAME MEDIANPING HIGHPING",
// the map name after ">" on the first poll on a new map.
QStringList RecordedSamples(const TDataPalisor& data);

}  // namespace palisor::test
