#include "editors/formactionresponse.h"

#include "core/errorhandler.h"
#include "core/shellutils.h"

#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

#include <memory>

namespace palisor {

QFont CourierFont(int pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                      QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSize(pointSize);
    return font;
}

TformActionResponse::TformActionResponse(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Response"));
    setFont(CourierFont(8));
    resize(600, 300);

    MainMenu = new QMenuBar(this);
    miFile = MainMenu->addMenu(QStringLiteral("&File"));
    miSaveAs = miFile->addAction(QStringLiteral("&Save As..."));
    miFile->addSeparator();
    miExit = miFile->addAction(QStringLiteral("E&xit"));
    // A file that cannot be written is reported like every other error, in
    // the main window's status bar; the viewer stays open.
    connect(miSaveAs, &QAction::triggered, this, [this] {
        try {
            miSaveAsClick();
        } catch (const std::exception& e) {
            HandleApplicationError(e);
        }
    });
    connect(miExit, &QAction::triggered, this, &TformActionResponse::miExitClick);

    moMessage = new QPlainTextEdit(this);
    moMessage->setReadOnly(true);
    moMessage->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    moMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    moMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    moMessage->setFocusPolicy(Qt::ClickFocus);
    moMessage->setFont(CourierFont(8));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(MainMenu);
    layout->addWidget(moMessage);
}

void TformActionResponse::miSaveAsClick()
{
    // The plain-text form would turn a no-break space, which player names
    // use, into a blank; the raw text keeps every character, and only the
    // document's paragraph ends become line ends.
    QString text = moMessage->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    SaveTextAs(QStringLiteral("Response.txt"), text);
}

void TformActionResponse::miExitClick() { close(); }

void ShowResponse(const QString& body, const QString& subject, QWidget* parent)
{
    auto viewer = std::make_unique<TformActionResponse>(parent);
    viewer->setWindowTitle(QStringLiteral("Results for ") + subject);
    viewer->moMessage->setPlainText(body);
    viewer->exec();
}

}  // namespace palisor
