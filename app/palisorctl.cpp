// palisorctl: administers a Palisor data folder from the command line.
// palisorctl --help tells how to use it.
#include "ctl/cli.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palisorctl"));
    return palisor::ctl::Run(argc, argv);
}
