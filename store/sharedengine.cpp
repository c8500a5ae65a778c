#include "store/sharedengine.h"

#include "core/datafiles.h"
#include "core/error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <ibase.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace palisor {
namespace {

const QByteArray RootSettings = QByteArrayLiteral(
    "# Every Palisor program on a data folder runs the embedded engine this way,\n"
    "# with the data folder's lock folder, so that they share its database.\n"
    "ServerMode = SuperClassic\n"
    "UdfAccess = None\n"
    "# A program killed outright keeps its locks until another that waits on\n"
    "# them finds it gone, at its next deadlock scan: after 2 seconds, not the\n"
    "# engine's 10, so the others carry on soon.\n"
    "DeadlockTimeout = 2\n"
    "# Each attachment keeps its own page cache in this mode, and a monitor\n"
    "# holds one attachment per game server: 64 pages (512 kB) each rather\n"
    "# than 256; the system's file cache holds the rest of a small database.\n"
    "DefaultDbCachePages = 64\n"
    "# A database on a server is reached only over an encrypted connection:\n"
    "# the console passwords it holds never cross the network readable. The\n"
    "# embedded engine has no connection to encrypt.\n"
    "WireCrypt = Required\n");

QString userName(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("user %1").arg(uid);
}

QString ownerOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? userName(info.st_uid) : QStringLiteral("somebody");
}

bool canWrite(const QString& path, int also = 0)
{
    return ::access(QFile::encodeName(path).constData(), W_OK | R_OK | also) == 0;
}

// A folder of the effective user, not a link, private, made when missing.
bool privateFolder(const QString& path)
{
    struct stat info {};
    const QByteArray native = QFile::encodeName(path);
    ::mkdir(native.constData(), 0700);
    return ::lstat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
           && ::chmod(native.constData(), 0700) == 0;
}

// Root in a shell that kept another user's HOME must not leave its files in
// that user's cache, where they would later stand in the user's way: the
// cache is used only when its nearest existing folder is the user's own.
bool ownCache(const QString& path)
{
    QString existing = path;
    while (!QFileInfo::exists(existing) && QFileInfo(existing).dir().path() != existing)
        existing = QFileInfo(existing).dir().path();
    struct stat info {};
    if (::stat(QFile::encodeName(existing).constData(), &info) != 0 || info.st_uid != ::geteuid())
        return false;
    QDir().mkpath(QFileInfo(path).dir().path());
    return privateFolder(path);
}

QString engineRootParent()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty() && ownCache(cache + QStringLiteral("/palisor")))
        return cache + QStringLiteral("/palisor");
    const QString temporary = QDir::tempPath() + QStringLiteral("/palisor-%1").arg(::geteuid());
    if (privateFolder(temporary))
        return temporary;
    throw Error(QStringLiteral("Cannot make a folder for the database engine's settings in %1 or %2")
                    .arg(cache + QStringLiteral("/palisor"), temporary));
}

// What a root made from systemRoot depends on: the system's entries and the
// size and time of every copied file. A changed system engine changes it.
QByteArray fingerprint(const QDir& system)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QFile::encodeName(system.absolutePath()));
    hash.addData(RootSettings);
    const QStringList entries = system.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries)
        hash.addData(QFile::encodeName(entry + QLatin1Char('\n')));
    QDirIterator copied(system.filePath(QStringLiteral("intl")), QDir::Files | QDir::Hidden);
    QStringList lines;
    while (copied.hasNext()) {
        const QFileInfo file(copied.next());
        lines << QStringLiteral("%1 %2 %3").arg(file.fileName()).arg(file.size()).arg(file.lastModified().toMSecsSinceEpoch());
    }
    lines.sort();
    hash.addData(lines.join(QLatin1Char('\n')).toUtf8());
    return hash.result().toHex().left(16);
}

void fill(const QDir& system, const QString& root)
{
    QFile settings(root + QStringLiteral("/firebird.conf"));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(RootSettings) != RootSettings.size() || !settings.flush())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(settings.fileName(), settings.errorString()));
    const QStringList entries = system.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry == QLatin1String("firebird.conf") || entry == QLatin1String("intl"))
            continue;
        if (!QFile::link(system.filePath(entry), root + QLatin1Char('/') + entry))
            throw Error(QStringLiteral("Cannot link %1 into %2").arg(system.filePath(entry), root));
    }
    const QString intl = root + QStringLiteral("/intl");
    QDir().mkdir(intl);
    QDirIterator copied(system.filePath(QStringLiteral("intl")), QDir::Files | QDir::Hidden);
    while (copied.hasNext()) {
        const QFileInfo file(copied.next());
        if (!QFile::copy(file.filePath(), intl + QLatin1Char('/') + file.fileName()))
            throw Error(QStringLiteral("Cannot copy %1 into %2").arg(file.filePath(), intl));
    }
}

// A root somebody emptied or cut short is made again rather than used.
bool complete(const QDir& system, const QString& root)
{
    if (!QFileInfo::exists(root + QStringLiteral("/firebird.conf")))
        return false;
    QDirIterator copied(system.filePath(QStringLiteral("intl")), QDir::Files | QDir::Hidden);
    while (copied.hasNext()) {
        const QFileInfo file(copied.next());
        if (QFileInfo(root + QStringLiteral("/intl/") + file.fileName()).size() != file.size())
            return false;
    }
    return true;
}

}  // namespace

QString SystemEngineRoot()
{
    // The root the client library belongs to lies beside it, named after its
    // version (Debian: libfbclient.so.3.0.11 and firebird/3.0 in one folder).
    Dl_info library {};
    QStringList candidates;
    QString beside = QStringLiteral("/usr/lib/firebird");
    if (::dladdr(reinterpret_cast<void*>(&isc_attach_database), &library) != 0 && library.dli_fname) {
        const QFileInfo client(QFileInfo(QFile::decodeName(library.dli_fname)).canonicalFilePath());
        beside = client.absolutePath() + QStringLiteral("/firebird");
        const QStringList version = client.fileName().section(QStringLiteral(".so."), 1).split(QLatin1Char('.'));
        if (version.size() >= 2)
            candidates << QStringLiteral("%1/%2.%3").arg(beside, version[0], version[1]);
        const QDir versions(beside);
        for (const QString& folder : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed))
            candidates << versions.filePath(folder);
    }
    candidates << QStringLiteral("/usr/lib/firebird") << QStringLiteral("/opt/firebird");
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate + QStringLiteral("/firebird.msg")) && QFileInfo(candidate + QStringLiteral("/intl")).isDir())
            return candidate;
    }
    throw Error(QStringLiteral("Cannot find the database engine's files (firebird.msg, intl) in %1").arg(beside));
}

QString MakeEngineRoot(const QString& systemRoot, const QString& parent)
{
    const QDir system(systemRoot);
    const QString name = QStringLiteral("firebird-") + QString::fromLatin1(fingerprint(system));
    const QString root = QDir(parent).filePath(name);
    if (QFileInfo(root).isDir()) {
        if (complete(system, root))
            return root;
        QDir(root).removeRecursively();
    }
    // Made under a name of its own and renamed when complete: a program
    // starting meanwhile never sees half a root, and of two programs making
    // it at once, the second uses the first one's.
    const QString making = QDir(parent).filePath(QStringLiteral(".%1.%2").arg(name).arg(::getpid()));
    QDir(making).removeRecursively();
    if (::mkdir(QFile::encodeName(making).constData(), 0700) != 0)
        throw Error(QStringLiteral("Cannot make the folder %1: %2").arg(making, QString::fromLocal8Bit(std::strerror(errno))));
    try {
        fill(system, making);
    } catch (const Error&) {
        QDir(making).removeRecursively();
        throw;
    }
    if (::rename(QFile::encodeName(making).constData(), QFile::encodeName(root).constData()) != 0) {
        const int error = errno;
        QDir(making).removeRecursively();
        if (!QFileInfo(root).isDir())
            throw Error(QStringLiteral("Cannot make the folder %1: %2").arg(root, QString::fromLocal8Bit(std::strerror(error))));
    }
    return root;
}

QString PrepareEngineRoot() { return MakeEngineRoot(SystemEngineRoot(), engineRootParent()); }

QString EngineLockFolder(const QString& dataFolder)
{
    return QDir(dataFolder).filePath(QLatin1String(EngineLockFolderName));
}

void UseEngineRoot() { qputenv("FIREBIRD", QFile::encodeName(PrepareEngineRoot())); }

void ShareDataFolderEngine(const QString& dataFolder)
{
    UseEngineRoot();
    const QString locks = EngineLockFolder(dataFolder);
    const QFileInfo folder(locks);
    if (!folder.exists()) {
        const mode_t mode = IsGroupShared(dataFolder) ? 02770 : 0700;
        if (::mkdir(QFile::encodeName(locks).constData(), mode) != 0 || ::chmod(QFile::encodeName(locks).constData(), mode) != 0)
            throw Error(QStringLiteral("Cannot make the folder %1: %2").arg(locks, QString::fromLocal8Bit(std::strerror(errno))));
    } else if (!folder.isDir()) {
        throw Error(QStringLiteral("%1 is not a folder").arg(locks));
    }
    // The engine would stop at a lock table it cannot write with an error of
    // its own naming neither the file nor its owner.
    const QString self = userName(::geteuid());
    if (!canWrite(locks, X_OK))
        throw Error(QStringLiteral("The database engine's lock folder %1 belongs to %2 and cannot be written in by the user %3")
                        .arg(locks, ownerOf(locks), self));
    QDirIterator files(locks, QDir::Files | QDir::Hidden | QDir::System);
    while (files.hasNext()) {
        const QString file = files.next();
        if (!canWrite(file))
            throw Error(QStringLiteral("The database engine's lock file %1 belongs to %2 and cannot be written by the user %3")
                            .arg(file, ownerOf(file), self));
    }
    qputenv("FIREBIRD_LOCK", QFile::encodeName(locks));
}

}  // namespace palisor
