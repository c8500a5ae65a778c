#include "app/application.h"
#include "app/dialogs.h"
#include "app/error.h"
#include "app/qtdialogs.h"
#include "app/startup.h"
#include "app/timing.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"

#include <memory>

namespace {

// Start-up and shut-down errors are shown in the standard error box and the
// run goes on with its next step.
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
    // Rcon already exists: it is created with the program's static objects.
    palisor::PalisorApplication app(argc, argv);
    palisor::InstallApplicationDialogs();
    if (!palisor::StartSingleInstance())
        return 0;

    QApplication::setApplicationName(QString::fromLatin1(palisor::ApplicationTitle));
    palisor::EnterExecutableFolder();

    auto data = std::make_unique<palisor::TDataPalisor>();
    runStep([&] { data->DataModuleCreate(); });

    const int exitCode = QApplication::exec();
    palisor::pause(palisor::ExitPause);

    runStep([&] { data->DataModuleDestroy(); });
    data.reset();
    return exitCode;
}
