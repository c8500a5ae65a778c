#include "app/application.h"
#include "app/qtdialogs.h"
#include "app/startup.h"
#include "app/timing.h"

int main(int argc, char** argv)
{
    palisor::PalisorApplication app(argc, argv);
    palisor::InstallApplicationDialogs();
    if (!palisor::StartSingleInstance())
        return 0;

    QApplication::setApplicationName(QString::fromLatin1(palisor::ApplicationTitle));
    palisor::EnterExecutableFolder();

    const int exitCode = QApplication::exec();
    palisor::pause(palisor::ExitPause);
    return exitCode;
}
