#include <QApplication>

#include "app/QuitOnSignal.h"
#include "ui/MainWindow.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setStyle("Fusion");
    // Closing the window either hides it in the tray or quits through
    // MainWindow::Quit; never behind the window's back.
    QApplication::setQuitOnLastWindowClosed(false);
    QuitOnSignal quitOnSignal;
    int exitCode = 0;
    {
        MainWindow window;
        QObject::connect(&quitOnSignal, &QuitOnSignal::QuitRequested, &window, &MainWindow::Quit);
        window.show();
        window.Init();
        // A quit asked for during start-up (a signal while the first login
        // dialog was open, say) still ends through the window's destructor,
        // which saves.
        if (!window.IsQuitting() && !QuitOnSignal::IsQuitRequested())
            exitCode = application.exec();
    }
    return exitCode;
}
