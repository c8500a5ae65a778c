#include "store/databaseconf.h"

#include "core/datafiles.h"
#include "core/error.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <sys/stat.h>

namespace palisor {

namespace {

QString confPath(const QString& dataFolder) { return QDir(dataFolder).filePath(QLatin1String(DatabaseConfName)); }

}  // namespace

DatabaseConf ReadDatabaseConf(const QString& dataFolder)
{
    const QString path = confPath(dataFolder);
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    DatabaseConf conf;
    bool inSection = false;
    int number = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(QLatin1String("Database"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            throw Error(QStringLiteral("%1 line %2 is no \"key = value\": %3").arg(path).arg(number).arg(line));
        if (!inSection)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key.compare(QLatin1String("Location"), Qt::CaseInsensitive) == 0)
            conf.location = value;
        else if (key.compare(QLatin1String("User"), Qt::CaseInsensitive) == 0)
            conf.user = value;
        else if (key.compare(QLatin1String("PasswordFile"), Qt::CaseInsensitive) == 0)
            conf.passwordFile = value;
        else
            throw Error(QStringLiteral("%1 line %2: unknown key \"%3\" (Location, User, PasswordFile)").arg(path).arg(number).arg(key));
    }
    if (conf.onServer() && (conf.user.isEmpty() || conf.passwordFile.isEmpty()))
        throw Error(QStringLiteral("%1 names a database server but no User or no PasswordFile").arg(path));
    return conf;
}

void WriteDatabaseConf(const QString& dataFolder, const DatabaseConf& conf)
{
    const QString path = confPath(dataFolder);
    QSaveFile file(path);
    const QString text = QStringLiteral("# Where this data folder's database is; empty Location: PALISOR.GDB here.\n"
                                        "[Database]\nLocation = %1\nUser = %2\nPasswordFile = %3\n")
                             .arg(conf.location, conf.user, conf.passwordFile);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    ProtectDataFile(path);
}

QString PasswordFilePath(const QString& dataFolder, const DatabaseConf& conf)
{
    if (conf.passwordFile.isEmpty())
        return QString();
    return QDir::cleanPath(QDir(dataFolder).absoluteFilePath(conf.passwordFile));
}

QString ReadDatabasePassword(const QString& passwordFile)
{
    const QByteArray native = QFile::encodeName(passwordFile);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0)
        throw Error(QStringLiteral("Cannot read the database password file %1: it does not exist").arg(passwordFile));
    if ((info.st_mode & 077) != 0)
        throw Error(QStringLiteral("The database password file %1 may be read or written by others (mode %2); "
                                   "it must be 0600 or stricter: chmod 600 %1")
                        .arg(passwordFile)
                        .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0')));
    QFile file(passwordFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read the database password file %1: %2").arg(passwordFile, file.errorString()));
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    if (line.isEmpty())
        throw Error(QStringLiteral("The database password file %1 is empty").arg(passwordFile));
    return line;
}

QString LocationHost(const QString& location)
{
    // A path of its own may hold a colon only after the host's.
    const qsizetype colon = location.indexOf(QLatin1Char(':'));
    return colon > 0 ? location.left(colon) : location;
}

QString ServerRefusal(const QString& location, const QString& said)
{
    if (!said.contains(QLatin1String("Incompatible wire encryption levels requested on client and server")))
        return said;
    return QStringLiteral("The database server %1 does not encrypt the connection; "
                          "set WireCrypt = Required (or Enabled) in its firebird.conf")
        .arg(LocationHost(location));
}

}  // namespace palisor
