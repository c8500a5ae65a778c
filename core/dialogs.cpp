#include "core/dialogs.h"

#include <cstdio>

namespace palisor {
namespace {

// Answers nothing and shows nothing; used where no windows exist.
class SilentDialogs final : public DialogSeam {
public:
    bool inputQuery(const QString&, const QString&, QString&) override { return false; }
    bool confirm(const QString&) override { return false; }
    bool okCancel(const QString&) override { return false; }
    void information(const QString& text) override { print(text); }
    void message(const QString& text) override { print(text); }
    void error(const QString& title, const QString& text) override { print(title + ": " + text); }
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return {}; }

private:
    static void print(const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};

SilentDialogs silent;
DialogSeam* current = &silent;

}  // namespace

DialogSeam& dialogs() { return *current; }

void setDialogs(DialogSeam* seam) { current = seam ? seam : &silent; }

}  // namespace palisor
