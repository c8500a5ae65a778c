#pragma once

#include <QString>
#include <QStringList>

namespace palisor {

// What a file dialog is asked to show. The filter is in Qt's form
// ("File Type (*.txt);;All Files (*.*)").
struct FileDialogRequest {
    QString title;
    QString filter;
    QString defaultSuffix;   // without the dot, added to a typed name that has none
    QString initialName;     // proposed file name
    bool confirmOverwrite = true;  // ask before replacing an existing file
    bool pathMustExist = true;     // accept only a folder that exists
    bool fileMustExist = false;    // accept only a file that exists
};

// Every modal question and notice of Palisor goes through this seam, so that
// tests can answer them. The real implementation shows Qt dialogs; a test
// installs a scripted one.
class DialogSeam {
public:
    virtual ~DialogSeam() = default;

    // Input box with OK and Cancel; value is the initial text and, on OK, the
    // entered text. Returns false on Cancel (value unchanged).
    virtual bool inputQuery(const QString& caption, const QString& prompt, QString& value) = 0;
    // Confirmation box titled "Confirm", question icon, Yes and No. True on Yes.
    virtual bool confirm(const QString& text) = 0;
    // A grid's own question (for example "Delete record?") with OK and Cancel. True on OK.
    virtual bool okCancel(const QString& text) = 0;
    // Information box titled "Information" with OK.
    virtual void information(const QString& text) = 0;
    // Plain message box under the program's title with OK.
    virtual void message(const QString& text) = 0;
    // Error box (error icon, OK) with the given title.
    virtual void error(const QString& title, const QString& text) = 0;
    // File dialogs: the chosen file's full name, or an empty text on Cancel.
    virtual QString saveFileName(const FileDialogRequest& request) = 0;
    virtual QString openFileName(const FileDialogRequest& request) = 0;
};

// The seam in force. Until one is installed, every question is answered
// negatively and notices go to stderr, so that nothing ever blocks.
DialogSeam& dialogs();
// Installs a seam (not owned); nullptr restores the default.
void setDialogs(DialogSeam* seam);

}  // namespace palisor
