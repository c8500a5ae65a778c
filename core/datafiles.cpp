#include "core/datafiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace palisor {
namespace {

bool statOf(const QString& path, struct stat& info) { return ::stat(QFile::encodeName(path).constData(), &info) == 0; }

// Only the user's own files change mode: another user's (root looking into
// a service's folder) stay as they are.
void setMode(const QString& path, mode_t mode)
{
    struct stat info {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 07777) != mode)
        ::chmod(native.constData(), mode);
}

}  // namespace

bool IsGroupShared(const QString& folder)
{
    struct stat info {};
    return statOf(folder, info) && (info.st_mode & (S_ISGID | S_IWGRP)) != 0;
}

mode_t DataFileMode(const QString& folder) { return IsGroupShared(folder) ? 0660 : 0600; }

void ProtectDataFolder(const QString& folder)
{
    const bool shared = IsGroupShared(folder);
    // The group of a shared folder must be able to write what others made
    // there (the log, the database), so its bits are never masked out.
    const mode_t previous = ::umask(0);
    ::umask(shared ? (previous & ~mode_t(070)) | 007 : previous | 077);

    const mode_t mode = shared ? 0660 : 0600;
    const QDir dir(folder);
    for (const char* name : {"PALISOR.GDB", "PALISOR.BKP", "PALISOR.GBK", "PALISOR.NEW", "PALISOR.LOG",
                             "PALISOR.GDB.new", "Palisor.INI"})
        setMode(dir.filePath(QLatin1String(name)), mode);

    const QString locks = dir.filePath(QLatin1String(EngineLockFolderName));
    if (!QFileInfo(locks).isDir())
        return;
    setMode(locks, shared ? 02770 : 0700);
    QDirIterator files(locks, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext())
        setMode(files.next(), mode);
}

void ProtectDataFile(const QString& path) { setMode(path, DataFileMode(QFileInfo(path).absolutePath())); }

}  // namespace palisor
