#pragma once

#include <QDialog>
#include <QFont>

class QAction;
class QMenu;
class QMenuBar;
class QPlainTextEdit;

namespace palisor {

// The program's face: "Courier New" where the desktop has it, else the
// metric-compatible Liberation Mono, else any fixed-pitch font.
QFont CourierFont(int pointSize);

// The response viewer: a block of text the program obtained for the
// administrator, usually a console reply, with "Save As..." to a text file.
class TformActionResponse : public QDialog {
    Q_OBJECT
public:
    explicit TformActionResponse(QWidget* parent = nullptr);

    QMenuBar* MainMenu;
    QMenu* miFile;
    QAction* miSaveAs;
    QAction* miExit;
    QPlainTextEdit* moMessage;

    void miSaveAsClick();
    void miExitClick();
};

// Shows the text in a modal viewer captioned "Results for " + subject and
// returns when the administrator closes it.
void ShowResponse(const QString& body, const QString& subject, QWidget* parent = nullptr);

}  // namespace palisor
