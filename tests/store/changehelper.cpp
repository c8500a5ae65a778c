// Makes one change of every kind in the database of the folder given, says
// "ready" and waits to be killed, so a test can check nothing was lost.
#include "store/datapalisor.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    palisor::TDataPalisor data(QString::fromLocal8Bit(argv[1]));
    data.DataModuleCreate();
    data.BanPlayer("Kept", "1.2.3.4");
    data.RecordPlayer("01", "Amy", "1.1.1.1", "27001", "010");
    data.tblSettings->edit();
    data.tblSettings->setValue("PORT", "23456");
    data.tblSettings->post();
    data.tblImmune->insert();
    data.tblImmune->setValue("NAME", "Admin");
    data.tblImmune->post();
    data.tblImmune->insert();   // typed but never stored
    data.tblImmune->setValue("NAME", "Pending");
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        QThread::sleep(60);
}
