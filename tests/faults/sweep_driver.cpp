// Opens the database of the folder given and runs one maintenance cycle, as
// the monitor does after a poll. Exit code 0 when the cycle ended well, 1 with
// the error on standard error otherwise. The tests kill it half-way.
#include "core/error.h"
#include "store/datapalisor.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: faults_sweep_driver FOLDER\n");
        return 2;
    }
    try {
        palisor::TDataPalisor data(QString::fromLocal8Bit(argv[1]));
        data.DataModuleCreate();
        data.SweepDatabase();
        data.DataModuleDestroy();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
