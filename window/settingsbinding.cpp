#include "window/settingsbinding.h"

#include "store/livetable.h"

#include <QLineEdit>

namespace palisor {

SettingsBinding::SettingsBinding(LiveTable& settings, QObject* parent) : QObject(parent), settings_(settings)
{
    connect(&settings_, &LiveTable::refreshed, this, &SettingsBinding::Load);
    connect(&settings_, &LiveTable::currentRowChanged, this, &SettingsBinding::Load);
}

void SettingsBinding::Bind(QLineEdit* box, const QString& field)
{
    bindings_.append({box, field});
    if (settings_.isOpen() && settings_.currentRow() >= 0)
        box->setText(settings_.text(field));
}

void SettingsBinding::Load()
{
    // While the maintenance cycle has the table closed, the boxes go on
    // showing the settings, which the monitor still works with.
    if (!settings_.isOpen())
        return;
    const bool hasRow = settings_.currentRow() >= 0;
    for (const Binding& b : bindings_) {
        // What the user is typing stays until he leaves the box, which
        // then writes it (another program's commit re-reads the row).
        if (b.box->isModified())
            continue;
        b.box->setText(hasRow ? settings_.text(b.field) : QString());
    }
}

void SettingsBinding::Commit(QLineEdit* box)
{
    for (const Binding& b : bindings_) {
        if (b.box != box)
            continue;
        settings_.edit();
        settings_.setValue(b.field, box->text());
        settings_.post();
        box->setModified(false);
        return;
    }
}

}  // namespace palisor
