#include "MainWindow.h"

#include <QMessageBox>

#include "ui/DiagnosticsForm.h"

MainWindow* mainWindow = nullptr;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_startUp(this), m_diagnostics(new DiagnosticsForm(this))
{
    mainWindow = this;
    setWindowTitle("Quorvale");
    setCentralWidget(m_diagnostics);
    resize(900, 600);
}

MainWindow::~MainWindow()
{
    m_startUp.Shutdown();
    if (mainWindow == this)
        mainWindow = nullptr;
}

void MainWindow::Init()
{
    m_startUp.Init();
}

void MainWindow::PrepareLogging()
{
    m_diagnostics->Init();
}

void MainWindow::SnapshotLoadFailed(const char* title, const char* text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok);
}
