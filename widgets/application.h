#pragma once

#include <QApplication>

namespace palisor {

// The application object. An error thrown by an event handler does not end
// the program: it is passed to the application's error handler and the
// message loop goes on with the next event.
class PalisorApplication : public QApplication {
public:
    PalisorApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace palisor
