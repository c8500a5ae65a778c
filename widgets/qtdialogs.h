#pragma once

#include "core/dialogs.h"

#include <QStringList>

namespace palisor {

// The dialog seam of the running program: Qt's input, message and file
// dialogs, modal over the active window.
class QtDialogs final : public DialogSeam {
public:
    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override;
    bool confirm(const QString& text) override;
    bool okCancel(const QString& text) override;
    void information(const QString& text) override;
    void message(const QString& text) override;
    void error(const QString& title, const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;
};

// The name filters a file dialog shows for a request's filter. A file name
// here needs no full stop to be a file, so "All Files (*.*)" is offered as
// "All Files (*)" and really shows all files.
QStringList NameFiltersFor(const QString& filter);

// True when PALISOR_NONINTERACTIVE=1: no dialog is ever shown, notices go to
// stderr and every question is answered negatively (for unattended runs).
bool NonInteractive();

// Installs the seam the program runs with: the Qt dialogs, or the silent one
// in the non-interactive mode.
void InstallApplicationDialogs();

}  // namespace palisor
