#include "widgets/application.h"
#include "core/dialogs.h"
#include "core/error.h"
#include "core/places.h"
#include "widgets/qtdialogs.h"
#include "core/startup.h"
#include "core/termination.h"
#include "core/timing.h"
#include "window/formpalisor.h"
#include "rcon/rcon.h"
#include "store/databaseconf.h"
#include "store/datapalisor.h"
#include "store/firststart.h"
#include "store/sharedengine.h"
#include "version.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char Help[] =
    "Usage: palisor [--help | --version]\n"
    "Palisor's window: watches over one Medal of Honor dedicated server through its\n"
    "remote console, enforces the rules, records bans and sends announcements.\n"
    "A copy with a folder named data beside the program keeps its files there;\n"
    "an installed copy keeps them in $XDG_DATA_HOME/palisor (~/.local/share/palisor).\n"
    "The same monitor without a window: palisor-monitor(1).\n"
    "\n"
    "  -h, --help     Shows this help.\n"
    "  -v, --version  Shows the version.\n";

// --help and --version are answered before the application object, which
// needs a display.
bool AnswerInformationRequest(int argc, char** argv)
{
    if (argc != 2)
        return false;
    const char* argument = argv[1];
    if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-v") == 0) {
        std::printf("palisor (%s) %s\n", palisor::ProductName, palisor::ProductVersion);
        return true;
    }
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        std::fputs(Help, stdout);
        return true;
    }
    return false;
}

// An error while the data module or the main window is being created or torn
// down is shown in the standard error box, and the run goes on with its next
// step.
template <typename Step>
void runStep(Step step)
{
    try {
        step();
    } catch (const std::exception& e) {
        palisor::dialogs().error(QString::fromLatin1(palisor::ApplicationTitle), palisor::messageOf(e));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (AnswerInformationRequest(argc, argv))
        return 0;
    // Rcon already exists: it is created with the program's static objects,
    // before this point, and destroyed after everything else.
    palisor::PalisorApplication app(argc, argv);
    palisor::InstallApplicationDialogs();
    palisor::QuitOnTerminationSignals();
    palisor::QuitOnHangUp();
    if (!palisor::StartSingleInstance())
        return 0;

    QApplication::setApplicationName(QString::fromLatin1(palisor::ApplicationTitle));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(palisor::DesktopId));

    // A portable copy addresses its data files relative to the working folder,
    // its own; an installed copy keeps them in the user's folders and makes
    // its database on first start.
    const palisor::Places places = palisor::FindPlaces(palisor::ExecutableFolder());
    palisor::SetProgramPlaces(places);
    // The headless monitor and palisorctl may have the same data folder open.
    if (places.installed) {
        runStep([&] { palisor::PrepareDataFolder(places.dataFolder); });
    } else {
        palisor::EnterExecutableFolder();
        runStep([&] { palisor::ShareDataFolderEngine(places.dataFolder); });
    }
    std::unique_ptr<palisor::TDataPalisor> DataPalisor;
    if (places.installed) {
        runStep([&] {
            if (!palisor::ReadDatabaseConf(places.dataFolder).onServer())
                palisor::CreateMissingDatabase(places.dataFolder, places.schemaFile());
        });
        DataPalisor = std::make_unique<palisor::TDataPalisor>(palisor::DataFolder{places.dataFolder});
    } else {
        DataPalisor = std::make_unique<palisor::TDataPalisor>();
    }
    runStep([&] { DataPalisor->DataModuleCreate(); });
    // Again: the database engine installs signal handlers of its own when it
    // first opens a database, and they must not close it under the program.
    palisor::QuitOnTerminationSignals();
    palisor::QuitOnHangUp();

    std::unique_ptr<palisor::TformPalisor> formPalisor;
    runStep([&] { formPalisor = std::make_unique<palisor::TformPalisor>(*DataPalisor, Rcon); });

    // Without a main window there is nothing that could ever end the loop.
    int exitCode = 0;
    if (formPalisor) {
        formPalisor->show();
        exitCode = QApplication::exec();
    }
    palisor::pause(palisor::ExitPause);

    formPalisor.reset();
    runStep([&] { DataPalisor->DataModuleDestroy(); });
    DataPalisor.reset();
    return exitCode;
}
