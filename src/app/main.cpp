#include <QApplication>

#include "ui/MainWindow.h"
#include "app/QuitOnSignal.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setStyle("Fusion");
    QuitOnSignal quitOnSignal;
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        window.Init();
        exitCode = application.exec();
    }
    return exitCode;
}
