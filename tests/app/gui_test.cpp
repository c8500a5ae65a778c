#include "widgets/application.h"
#include "core/error.h"
#include "core/errorhandler.h"
#include "widgets/menuutils.h"
#include "widgets/qtdialogs.h"
#include "tests/support/dialogs/scripteddialogs.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace {

palisor::PalisorApplication& app()
{
    static int argc = 1;
    static char name[] = "app_gui_test";
    static char* argv[] = {name, nullptr};
    static palisor::PalisorApplication application(argc, argv);
    return application;
}

// Plays the user: each handler gets the next modal dialog that opens.
class ModalScript {
public:
    using Handler = std::function<void(QWidget*)>;
    explicit ModalScript(std::deque<Handler> handlers) : handlers_(std::move(handlers))
    {
        app();
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    ~ModalScript() { EXPECT_TRUE(handlers_.empty()) << handlers_.size() << " dialog(s) never opened"; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == last_ || handlers_.empty())
            return;
        last_ = modal;
        Handler handler = std::move(handlers_.front());
        handlers_.pop_front();
        handler(modal);
    }

    std::deque<Handler> handlers_;
    QPointer<QWidget> last_;
    QTimer timer_;
};

struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

ModalScript::Handler recordAndClick(BoxSeen& seen, QMessageBox::StandardButton which)
{
    return [&seen, which](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        box->button(which)->click();
    };
}

}  // namespace

TEST(QtDialogs, QuestionsHaveTheirTitlesAndButtons)
{
    palisor::QtDialogs dialogs;
    BoxSeen yes, no, ok;
    {
        ModalScript script({recordAndClick(yes, QMessageBox::Yes), recordAndClick(no, QMessageBox::No),
                            recordAndClick(ok, QMessageBox::Cancel)});
        EXPECT_TRUE(dialogs.confirm("Kick player Bob?"));
        EXPECT_FALSE(dialogs.confirm("Ban player Bob?"));
        EXPECT_FALSE(dialogs.okCancel("Delete record?"));
    }
    EXPECT_EQ(yes.title, "Confirm");
    EXPECT_EQ(yes.text, "Kick player Bob?");
    EXPECT_EQ(yes.icon, QMessageBox::Question);
    EXPECT_EQ(yes.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(no.text, "Ban player Bob?");
    EXPECT_EQ(ok.text, "Delete record?");
    EXPECT_EQ(ok.buttons, QMessageBox::Ok | QMessageBox::Cancel);
}

TEST(QtDialogs, NoticesHaveTheirTitlesAndIcons)
{
    palisor::QtDialogs dialogs;
    BoxSeen info, plain, error;
    {
        ModalScript script({recordAndClick(info, QMessageBox::Ok), recordAndClick(plain, QMessageBox::Ok),
                            recordAndClick(error, QMessageBox::Ok)});
        dialogs.information("3 names imported");
        dialogs.message("Player is immune");
        dialogs.error("Palisor", "Palisor is already running.\r\nDouble click the icon in the system tray.");
    }
    EXPECT_EQ(info.title, "Information");
    EXPECT_EQ(info.icon, QMessageBox::Information);
    EXPECT_EQ(plain.title, "Palisor");
    EXPECT_EQ(plain.text, "Player is immune");
    EXPECT_EQ(error.title, "Palisor");
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.buttons, QMessageBox::Ok);
}

TEST(QtDialogs, InputQueryKeepsTheValueOnCancel)
{
    palisor::QtDialogs dialogs;
    QString caption, label;
    QString value = "initial";
    ModalScript script({[&](QWidget* w) {
                            auto* input = qobject_cast<QInputDialog*>(w);
                            ASSERT_NE(input, nullptr);
                            caption = input->windowTitle();
                            label = input->labelText();
                            EXPECT_EQ(input->textValue(), "initial");
                            input->setTextValue("entered");
                            input->accept();
                        },
                        [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); }});
    EXPECT_TRUE(dialogs.inputQuery("Find Player", "Name:", value));
    EXPECT_EQ(value, "entered");
    EXPECT_EQ(caption, "Find Player");
    EXPECT_EQ(label, "Name:");
    EXPECT_FALSE(dialogs.inputQuery("Find Player", "Name:", value));
    EXPECT_EQ(value, "entered");
}

TEST(QtDialogs, SaveDialogAsksBeforeReplacing)
{
    QTemporaryDir dir;
    const QString existing = dir.filePath("Response.txt");
    QFile(existing).open(QIODevice::WriteOnly);
    palisor::FileDialogRequest request;
    request.title = "Save As";
    request.filter = "File Type (*.txt);;All Files (*.*)";
    request.defaultSuffix = "txt";
    request.initialName = "Response.txt";

    BoxSeen replace;
    QStringList filters;
    QString suffix;
    bool confirmsOverwrite = false;
    palisor::QtDialogs dialogs;
    ModalScript script({[&](QWidget* w) {
                            auto* dialog = qobject_cast<QFileDialog*>(w);
                            ASSERT_NE(dialog, nullptr);
                            EXPECT_EQ(dialog->windowTitle(), "Save As");
                            filters = dialog->nameFilters();
                            suffix = dialog->defaultSuffix();
                            confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
                            dialog->setDirectory(dir.path());
                            dialog->selectFile(existing);
                            QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
                        },
                        recordAndClick(replace, QMessageBox::Yes)});
    EXPECT_EQ(dialogs.saveFileName(request), existing);
    EXPECT_EQ(filters, QStringList({"File Type (*.txt)", "All Files (*)"}));
    EXPECT_EQ(suffix, "txt");
    EXPECT_TRUE(confirmsOverwrite);
    EXPECT_TRUE(replace.text.contains("Response.txt")) << replace.text.toStdString();
}

TEST(QtDialogs, SaveDialogRefusesAMissingFolder)
{
    QTemporaryDir dir;
    palisor::FileDialogRequest request;
    request.title = "Save As";
    request.filter = "File Type (*.txt);;All Files (*.*)";
    BoxSeen warning;
    palisor::QtDialogs dialogs;
    ModalScript script({[&](QWidget* w) {
                            auto* dialog = qobject_cast<QFileDialog*>(w);
                            ASSERT_NE(dialog, nullptr);
                            dialog->selectFile(dir.filePath("missing/Banned.txt"));
                            QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
                        },
                        recordAndClick(warning, QMessageBox::Ok),
                        [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); }});
    EXPECT_EQ(dialogs.saveFileName(request), "");
    EXPECT_TRUE(warning.text.contains("does not exist")) << warning.text.toStdString();
}

TEST(QtDialogs, AllFilesReallyMeansAllFiles)
{
    EXPECT_EQ(palisor::NameFiltersFor("File Type (*.txt);;All Files (*.*)"),
              QStringList({"File Type (*.txt)", "All Files (*)"}));
}

TEST(CopyMenuItems, MirrorsTheDirectItemsOnly)
{
    app();
    QMenu source, target;
    QAction* kick = source.addAction("&Kick");
    QAction* ban = source.addAction("&Ban");
    source.addSeparator();
    QMenu* more = source.addMenu("&More");
    more->addAction("Hidden inside");
    QAction* existing = target.addAction("Already there");
    ban->setEnabled(false);

    palisor::CopyMenuItems(&source, &target);

    const QList<QAction*> items = target.actions();
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items[0], existing);
    EXPECT_EQ(items[1]->text(), "&Kick");
    EXPECT_EQ(items[2]->text(), "&Ban");
    EXPECT_FALSE(items[2]->isEnabled());
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(items[4]->text(), "&More");
    EXPECT_EQ(items[4]->menu(), nullptr);

    int kicks = 0;
    QObject::connect(kick, &QAction::triggered, [&] { ++kicks; });
    items[1]->trigger();
    EXPECT_EQ(kicks, 1);
    ban->setEnabled(true);
    EXPECT_TRUE(items[2]->isEnabled());

    // Callers empty the pop-up before copying again; the shared actions survive.
    target.clear();
    palisor::CopyMenuItems(&source, &target);
    EXPECT_EQ(target.actions().size(), 4);
    EXPECT_EQ(source.actions().at(0)->text(), "&Kick");
}

TEST(CopyMenuItems, EmptySourceAddsNothing)
{
    app();
    QMenu source, target;
    target.addAction("Kept");
    palisor::CopyMenuItems(&source, &target);
    ASSERT_EQ(target.actions().size(), 1);
    EXPECT_EQ(target.actions().at(0)->text(), "Kept");
}

namespace {
class Throwing : public QObject {
public:
    int handled = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (++handled == 1)
            throw palisor::Error("closed dataset");
        return true;
    }
};
}  // namespace

TEST(PalisorApplication, AnErrorInAHandlerGoesToTheErrorHandlerAndTheLoopGoesOn)
{
    app();
    Throwing target;
    QStringList reported;
    palisor::setApplicationErrorHandler([&](const QString& message) { reported << message; });
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    palisor::setApplicationErrorHandler({});
    EXPECT_EQ(reported, QStringList({"closed dataset"}));
    EXPECT_EQ(target.handled, 2);

    // Before the main window installs its handler, the standard box shows it.
    palisor::ScriptedDialogs dialogs;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    target.handled = 0;
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.callsOf(palisor::ScriptedDialogs::Kind::Error).size(), 1u);
    EXPECT_EQ(dialogs.lastCall().caption, "Palisor");
    EXPECT_EQ(dialogs.lastCall().text, "closed dataset");
}
