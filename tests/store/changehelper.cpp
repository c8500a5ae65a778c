// Makes one change of every kind in the database of the folder given, says
// "ready" and waits to be killed, so a test can check nothing was lost.
// With --idle first it stays attached instead, as an idle window does, and
// says when a maintenance cycle had it let go and when it came back (with
// the bans it then sees).
#include "store/datapalisor.h"
#include "store/letgo.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto say = [](const QByteArray& line) {
        std::printf("%s\n", line.constData());
        std::fflush(stdout);
    };
    if (argc == 3 && QByteArray(argv[1]) == "--idle") {
        palisor::TDataPalisor data(QString::fromLocal8Bit(argv[2]));
        data.OpenAttachment();
        palisor::LetGoWatch watch(data, [&] {
            data.Resynchronise({data.tblBanned});
            say("back " + QByteArray::number(data.tblBanned->rowCount()));
        });
        QObject::connect(&watch, &palisor::LetGoWatch::letGo, [&] { say("let go"); });
        say("ready");
        return app.exec();
    }
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
