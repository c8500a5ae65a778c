#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QLineEdit;

namespace palisor {

class LiveTable;

// Binds edit boxes to the fields of the single SETTINGS row: a box shows its
// field, and committing a box writes what it shows back to the row.
class SettingsBinding : public QObject {
    Q_OBJECT
public:
    explicit SettingsBinding(LiveTable& settings, QObject* parent = nullptr);

    void Bind(QLineEdit* box, const QString& field);
    // Every box shows its field again (after the row was re-read); a closed
    // table leaves the boxes as they are.
    void Load();
    // Puts the row into edit state, sets the box's field to its text and posts.
    void Commit(QLineEdit* box);

private:
    struct Binding {
        QLineEdit* box;
        QString field;
    };
    LiveTable& settings_;
    QList<Binding> bindings_;
};

}  // namespace palisor
