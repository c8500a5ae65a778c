#pragma once

#include "editors/listwindow.h"

class QActionGroup;

namespace palisor {

class AnnouncementHost;

// The notice of "System &Variables": the variable lines with the rules of
// their use. Lines end with CR LF.
QString VariablesNotice(const QStringList& variables, const QString& variableMark);
// The question before an announcement is sent at once.
QString SendAnnouncementQuestion(const QString& announcement);

// The scheduled announcements (MESSAGES, kept in SEQ order) with the
// interval between them, the switch for sending them, the variables they may
// use, and sending one at once.
class TformMessages final : public ListWindow {
    Q_OBJECT
public:
    TformMessages(TDataPalisor& data, AnnouncementHost& host, QWidget* parent = nullptr);

    TableGrid* DataGrid;
    QAction* miVariables;
    QMenu* miEdit;
    QMenu* miInterval;
    QActionGroup* intervalGroup;
    QAction* N1minute1;
    QAction* N2minutes1;
    QAction* N5minutes1;
    QAction* N10minutes1;
    QAction* N15minutes1;
    QAction* N20minutes1;
    QAction* miSend;
    QAction* actSend;

    void ShowInterval();
    void SaveInterval(int minutes);
    void SetSending(bool on);

    void TableAfterPost(LiveTable& table) override;
    void FormShow() override;
    void minuteClick(QAction* sender);
    void miSendClick();
    void miVariablesClick();
    void actSendExecute();

protected:
    QString removeQuestion() const override;

private:
    QAction* addInterval(const QString& caption, const QString& name, int minutes);

    AnnouncementHost& host_;
};

}  // namespace palisor
