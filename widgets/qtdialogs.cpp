#include "widgets/qtdialogs.h"

#include "core/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

namespace palisor {
namespace {

QWidget* activeWindow() { return QApplication::activeWindow(); }

int showBox(QMessageBox::Icon icon, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, text, buttons, activeWindow());
    return box.exec();
}

QString runFileDialog(const FileDialogRequest& request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(activeWindow(), request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.setNameFilters(NameFiltersFor(request.filter));
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        const QString chosen = dialog.selectedFiles().constFirst();
        const QFileInfo info(chosen);
        if (!request.pathMustExist || info.absoluteDir().exists())
            return info.absoluteFilePath();
        showBox(QMessageBox::Warning, request.title,
                QStringLiteral("%1\nThe folder does not exist.").arg(info.absolutePath()), QMessageBox::Ok);
    }
}

}  // namespace

QStringList NameFiltersFor(const QString& filter)
{
    QStringList filters = filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts);
    for (QString& entry : filters)
        entry.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    return filters;
}

bool QtDialogs::inputQuery(const QString& caption, const QString& prompt, QString& value)
{
    bool ok = false;
    const QString entered =
        QInputDialog::getText(activeWindow(), caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok)
        value = entered;
    return ok;
}

bool QtDialogs::confirm(const QString& text)
{
    return showBox(QMessageBox::Question, QStringLiteral("Confirm"), text,
                   QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool QtDialogs::okCancel(const QString& text)
{
    return showBox(QMessageBox::Question, QStringLiteral("Confirm"), text,
                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void QtDialogs::information(const QString& text)
{
    showBox(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok);
}

void QtDialogs::message(const QString& text)
{
    showBox(QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle), text, QMessageBox::Ok);
}

void QtDialogs::error(const QString& title, const QString& text)
{
    showBox(QMessageBox::Critical, title, text, QMessageBox::Ok);
}

QString QtDialogs::saveFileName(const FileDialogRequest& request)
{
    return runFileDialog(request, QFileDialog::AcceptSave);
}

QString QtDialogs::openFileName(const FileDialogRequest& request)
{
    return runFileDialog(request, QFileDialog::AcceptOpen);
}

bool NonInteractive() { return qEnvironmentVariable("PALISOR_NONINTERACTIVE") == QLatin1String("1"); }

void InstallApplicationDialogs()
{
    static QtDialogs qtDialogs;
    setDialogs(NonInteractive() ? nullptr : &qtDialogs);
}

}  // namespace palisor
