// A second instance for the single-instance tests:
//   instance_tool <socket name> send <command line>   hand the line over
//   instance_tool <socket name> shutdown              replace the running one
// Prints "handed-off" or "listening" and exits 0; 1 on a usage error.
#include <cstdio>
#include <cstring>

#include <QCoreApplication>

#include "app/InstanceChecker.h"

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 3)
        return 1;
    const bool shutdown = std::strcmp(argv[2], "shutdown") == 0;
    QInstanceChecker checker(nullptr, QString::fromLocal8Bit(argv[1]));
    const QString line = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (!checker.Start(line, true, shutdown)) {
        std::printf("handed-off\n");
        return 0;
    }
    std::printf(checker.IsListening() ? "listening\n" : "not-listening\n");
    return 0;
}
