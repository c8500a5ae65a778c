#include "core/places.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace palisor {

namespace {

Places portablePlaces(const QString& folder)
{
    const QDir dir(folder);
    return {false, dir.filePath(QStringLiteral("data")), dir.filePath(QStringLiteral("Palisor.INI")), folder};
}

std::optional<Places>& settled()
{
    static std::optional<Places> places;
    return places;
}

}  // namespace

QString Places::schemaFile() const { return QDir(sharedFolder).filePath(QStringLiteral("schema.sql")); }
QString Places::manualShortcut() const { return QDir(sharedFolder).filePath(QStringLiteral("manual.url")); }

Places FindPlaces(const QString& executableFolder)
{
    const QDir bin(executableFolder);
    if (QFileInfo(bin.filePath(QStringLiteral("data"))).isDir())
        return portablePlaces(executableFolder);
    // QStandardPaths follows XDG_DATA_HOME and XDG_CONFIG_HOME and falls back
    // to ~/.local/share and ~/.config as the XDG rules say.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return {true, data + QStringLiteral("/palisor"), config + QStringLiteral("/palisor/Palisor.INI"),
            QDir::cleanPath(bin.filePath(QStringLiteral("../share/palisor")))};
}

QString OwnRuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat folder {};
    if (runtime.isEmpty() || ::stat(QFile::encodeName(runtime).constData(), &folder) != 0)
        return QString();
    return S_ISDIR(folder.st_mode) && folder.st_uid == ::geteuid() ? runtime : QString();
}

const Places& ProgramPlaces()
{
    if (!settled())
        settled() = portablePlaces(QCoreApplication::applicationDirPath());
    return *settled();
}

void SetProgramPlaces(const Places& places) { settled() = places; }

}  // namespace palisor
