#include "editors/formmessages.h"

#include "core/dialogs.h"
#include "core/shellutils.h"
#include "editors/announcementhost.h"
#include "editors/tablegrid.h"
#include "store/datapalisor.h"
#include "store/livetable.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

namespace palisor {
namespace {
const QString crlf = QStringLiteral("\r\n");
}  // namespace

QString VariablesNotice(const QStringList& variables, const QString& variableMark)
{
    QString text = QStringLiteral("The following list of variables can be used in your Announcements.") + crlf + crlf;
    for (const QString& line : variables)
        text += line + crlf;
    text += crlf;
    text += QStringLiteral("The value after the equal sign will replace the variable when Announced.") + crlf + crlf;
    text += QStringLiteral("RULES:") + crlf;
    text += QStringLiteral("There can be multiple variables per Announcement.") + crlf;
    text += QStringLiteral("A ") + variableMark + QStringLiteral(" CANNOT be used in an Announcement with variables.") +
            crlf;
    text += QStringLiteral("A ") + variableMark + QStringLiteral(" CAN be used once per Announcement, without variables.") +
            crlf;
    return text;
}

QString SendAnnouncementQuestion(const QString& announcement)
{
    return QStringLiteral("Send this Announcement to the server?") + crlf + crlf + announcement;
}

TformMessages::TformMessages(TDataPalisor& data, AnnouncementHost& host, QWidget* parent)
    : ListWindow(data, *data.tblMessages,
                 {QStringLiteral("Scheduled Announcements: %d total"), QSize(743, 308), QStringLiteral("DataGrid"),
                  true, false, QStringLiteral("&Remove Announcement"), QString()},
                 parent),
      DataGrid(grid()),
      host_(host)
{
    miVariables = new QAction(QStringLiteral("System &Variables"), miFile);
    miFile->insertAction(miExit, miVariables);
    miFile->insertSeparator(miExit);

    miEdit = new QMenu(QStringLiteral("&Edit"), MainMenu);
    miInterval = miEdit->addMenu(QStringLiteral("&Interval"));
    intervalGroup = new QActionGroup(miInterval);
    intervalGroup->setExclusive(true);
    N1minute1 = addInterval(QStringLiteral("1 minute"), QStringLiteral("N1minute1"), 1);
    N2minutes1 = addInterval(QStringLiteral("2 minutes"), QStringLiteral("N2minutes1"), 2);
    N5minutes1 = addInterval(QStringLiteral("5 minutes"), QStringLiteral("N5minutes1"), 5);
    N10minutes1 = addInterval(QStringLiteral("10 minutes"), QStringLiteral("N10minutes1"), 10);
    N15minutes1 = addInterval(QStringLiteral("15 minutes"), QStringLiteral("N15minutes1"), 15);
    N20minutes1 = addInterval(QStringLiteral("20 minutes"), QStringLiteral("N20minutes1"), 20);
    N5minutes1->setChecked(true);
    miSend = miEdit->addAction(QStringLiteral("&Send Announcements"));
    miSend->setObjectName(QStringLiteral("miSend"));
    miSend->setCheckable(true);
    miSend->setChecked(true);
    MainMenu->insertMenu(miAction->menuAction(), miEdit);

    actSend = miAction->addAction(QStringLiteral("&Send Announcement"));
    actSend->setObjectName(QStringLiteral("actSend"));

    onTriggered(miVariables, [this] { miVariablesClick(); });
    onTriggered(miSend, [this] { miSendClick(); });
    onTriggered(actSend, [this] { actSendExecute(); });
}

QAction* TformMessages::addInterval(const QString& caption, const QString& name, int minutes)
{
    QAction* item = miInterval->addAction(caption);
    item->setObjectName(name);
    item->setCheckable(true);
    item->setData(minutes);
    intervalGroup->addAction(item);
    onTriggered(item, [this, item] { minuteClick(item); });
    return item;
}

QString TformMessages::removeQuestion() const
{
    return QStringLiteral("Are you sure you want to remove this Announcement?");
}

void TformMessages::TableAfterPost(LiveTable& posted)
{
    ListWindow::TableAfterPost(posted);
    data().SortTable(QStringLiteral("SEQ"), &posted);
}

void TformMessages::FormShow()
{
    SetSending(IsTrueText(data().tblSettings->text(QStringLiteral("MSGON"))));
    table().last();
}

void TformMessages::SetSending(bool on)
{
    ShowInterval();
    miSend->setChecked(on);
    LiveTable& settings = *data().tblSettings;
    settings.edit();
    settings.setValue(QStringLiteral("MSGON"), on ? QStringLiteral("True") : QStringLiteral("False"));
    settings.post();
}

void TformMessages::ShowInterval()
{
    const QString minutes = data().tblSettings->text(QStringLiteral("MSGTIME"));
    const QString caption = minutes + (minutes == QStringLiteral("1") ? QStringLiteral(" minute")
                                                                       : QStringLiteral(" minutes"));
    for (QAction* item : miInterval->actions()) {
        if (QString(item->text()).remove(QLatin1Char('&')).compare(caption, Qt::CaseInsensitive) == 0) {
            minuteClick(item);
            return;
        }
    }
}

void TformMessages::minuteClick(QAction* sender)
{
    if (!sender)
        return;
    sender->setChecked(true);
    SaveInterval(sender->data().toInt());
}

void TformMessages::SaveInterval(int minutes)
{
    LiveTable& settings = *data().tblSettings;
    settings.edit();
    settings.setValue(QStringLiteral("MSGTIME"), minutes);
    settings.post();
}

// The menu has already flipped the mark when this runs; SetSending puts it
// where the setting now is.
void TformMessages::miSendClick() { SetSending(miSend->isChecked()); }

void TformMessages::miVariablesClick()
{
    host_.UpdateVariables();
    dialogs().message(VariablesNotice(data().Variables, data().VariableMark));
}

void TformMessages::actSendExecute()
{
    const QString shown = host_.SubstituteVariables(table().text(QStringLiteral("ANNOUNCEMENT")));
    if (!dialogs().confirm(SendAnnouncementQuestion(shown)))
        return;
    // A second pass replaces a variable's later occurrences that the first
    // pass left in place.
    const QString sent = host_.SubstituteVariables(shown);
    host_.SendNow(QStringLiteral("say ") + sent);
}

}  // namespace palisor
