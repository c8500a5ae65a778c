#include "widgets/application.h"

#include "core/errorhandler.h"

namespace palisor {

PalisorApplication::PalisorApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool PalisorApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        HandleApplicationError(e);
    } catch (...) {
        HandleApplicationError(QStringLiteral("Unknown error"));
    }
    return false;
}

}  // namespace palisor
