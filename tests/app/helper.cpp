// A small program the application tests start as a child process:
//   exit N        ends with exit code N
//   fd-open N     exit code 0 when descriptor N is open in this process, else 1
//   signal N      exit code 0 when signal N is neither blocked nor ignored, else 1
//   hold NAME     takes the single-instance lock NAME, prints "held" (or
//                 "refused" and exits 1) and then waits to be killed
//   probe NAME    exit code 0 when the lock NAME could be taken, else 1
#include "core/singleinstance.h"

#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 100;
    const char* mode = argv[1];
    const char* value = argv[2];
    if (std::strcmp(mode, "exit") == 0)
        return std::atoi(value);
    if (std::strcmp(mode, "fd-open") == 0)
        return ::fcntl(std::atoi(value), F_GETFD) >= 0 ? 0 : 1;
    if (std::strcmp(mode, "signal") == 0) {
        const int number = std::atoi(value);
        sigset_t blocked;
        struct sigaction action {};
        sigprocmask(SIG_BLOCK, nullptr, &blocked);
        sigaction(number, nullptr, &action);
        return !sigismember(&blocked, number) && action.sa_handler == SIG_DFL ? 0 : 1;
    }
    if (std::strcmp(mode, "probe") == 0)
        return palisor::CheckSingleInstance(QString::fromLocal8Bit(value)) ? 0 : 1;
    if (std::strcmp(mode, "hold") == 0) {
        if (!palisor::CheckSingleInstance(QString::fromLocal8Bit(value))) {
            std::puts("refused");
            return 1;
        }
        std::puts("held");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    return 100;
}
