#include <QCoreApplication>

#include "Node.h"
#include "app/QuitOnSignal.h"

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QuitOnSignal quitOnSignal;
    int exitCode = 0;
    {
        Node node;
        node.Start();
        exitCode = application.exec();
    }
    return exitCode;
}
