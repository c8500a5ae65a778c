#include "widgets/menuutils.h"

#include <QAction>
#include <QMenu>

namespace palisor {

void CopyMenuItems(QMenu* source, QMenu* target)
{
    for (QAction* item : source->actions()) {
        if (item->isSeparator()) {
            target->addSeparator();
        } else if (item->menu()) {
            // Only the item itself is mirrored, not the items beneath it.
            auto* copy = new QAction(item->text(), target);
            copy->setEnabled(item->isEnabled());
            target->addAction(copy);
        } else {
            // The same action: the same command, caption and enabled state.
            target->addAction(item);
        }
    }
}

}  // namespace palisor
