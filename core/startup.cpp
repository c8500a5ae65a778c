#include "core/startup.h"

#include "core/dialogs.h"
#include "core/singleinstance.h"

#include <QDir>
#include <QFileInfo>

namespace palisor {

QString ExecutableFolder()
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QString target = self.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

void EnterExecutableFolder()
{
    const QString folder = ExecutableFolder();
    if (!folder.isEmpty())
        QDir::setCurrent(folder);
}

bool StartSingleInstance()
{
    if (CheckSingleInstance(QString::fromLatin1(ApplicationTitle)))
        return true;
    dialogs().error(QString::fromLatin1(ApplicationTitle), QString::fromLatin1(AlreadyRunningMessage));
    return false;
}

}  // namespace palisor
