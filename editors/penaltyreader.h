#pragma once

#include "store/history.h"

#include <QObject>
#include <QSqlDatabase>
#include <QThread>

#include <functional>
#include <memory>

namespace palisor {

// Reads the penalty log for the History window on a thread of its own with
// an attachment of its own, so that a log of a million events never stops
// the window: the window posts a look and is told when it is done. Looks
// are done one at a time in the order posted; a search superseded by a
// newer one before it begins is dropped.
class PenaltyLogReader : public QObject {
    Q_OBJECT
public:
    // Attaches to the database `db` is connected to, on the reader's thread.
    explicit PenaltyLogReader(const QSqlDatabase& db, QObject* parent = nullptr);
    // Ends a running export and waits for the look at hand to end.
    ~PenaltyLogReader() override;

    // The newest `limit` events the filters let through, and how many they
    // let through in all: Found.
    void Find(const QString& text, const QString& kind, int limit);
    // Writes every event the filters let through to a CSV file as it reads
    // them, a piece at a time: ExportProgress now and then, ExportDone at
    // the end. A cancelled or failed export leaves no file behind.
    void Export(const QString& fileName, const QString& text, const QString& kind);
    void CancelExport();

    // Events read between two ExportProgress reports.
    static constexpr int ProgressEvents = 5000;

signals:
    void Found(const QList<palisor::PenaltyEvent>& events, int total);
    void SearchFailed(const QString& message);
    void ExportProgress(int written, int total);
    // Empty when the file was written or the export cancelled.
    void ExportDone(const QString& error, bool cancelled);

private:
    struct Shared;
    void post(std::function<void()> job);

    std::shared_ptr<Shared> shared_;
    QThread thread_;
    QObject* worker_;
};

}  // namespace palisor
