#pragma once

class QMenu;

namespace palisor {

// Appends to the target one item per direct sub-item of the source, carrying
// the sub-item's action (so it runs the same command and follows its enabled
// state) and caption. The target is not emptied first.
void CopyMenuItems(QMenu* source, QMenu* target);

}  // namespace palisor
