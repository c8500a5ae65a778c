#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace palisor {

class PenaltyModel;
class TDataPalisor;
class TServerChart;

// The History window: every penalty on record, and the server's players and
// ping over a period. Read-only; opened from the Edit menu while the monitor
// is stopped.
class TformHistory : public QDialog {
    Q_OBJECT
public:
    explicit TformHistory(TDataPalisor& data, QWidget* parent = nullptr);
    ~TformHistory() override;

    // Reads both tabs and shows the window modally.
    int ShowModal();

    // The Penalties tab; the export writes every event the filters let
    // through, also those past the grid's newest ShownEvents.
    void RefreshPenalties();
    void ExportPenalties();
    // The Server tab: the samples of the chosen period, one query.
    void RefreshServer();

    QTabWidget* Tabs;
    QLineEdit* edFilter;
    QComboBox* cbKind;
    QPushButton* btnExport;
    QTableView* EventGrid;
    QLabel* lbEvents;
    QComboBox* cbPeriod;
    TServerChart* ServerChart;
    QLabel* lbSamples;

    // The periods of the Server tab, in days.
    static const QList<int>& PeriodDays();
    // The grid shows at most this many events; the export writes them all.
    static constexpr int ShownEvents = 2000;

private:
    QWidget* buildPenalties();
    QWidget* buildServer();

    TDataPalisor& data_;
    PenaltyModel* events_;
};

// The Edit menu's opener; throws palisor::Error before opening when the
// database has no penalty log.
void ShowHistory(TDataPalisor& data, QWidget* parent);

}  // namespace palisor
