#include "MainWindow.h"

#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>

#include "app/Settings.h"
#include "server/LoginFailure.h"
#include "server/Server.h"
#include "ui/DiagnosticsForm.h"
#include "ui/LoginDialog.h"

MainWindow* mainWindow = nullptr;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_startUp(this), m_diagnostics(new DiagnosticsForm(this)),
      m_connectionState(new QLabel("Offline", this))
{
    mainWindow = this;
    setWindowTitle("Quorvale");
    setCentralWidget(m_diagnostics);
    statusBar()->addPermanentWidget(m_connectionState);
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

void MainWindow::ManagersCreated()
{
    connect(gp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(gp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(gp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    connect(gp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);
}

void MainWindow::SnapshotLoadFailed(const char* title, const char* text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok);
}

void MainWindow::SnapshotLoaded()
{
    if (Settings::Get("username").empty()) {
        LoginDialog dialog(true, nullptr);
        dialog.exec();
    }
}

void MainWindow::OnConnecting()
{
    m_connectionState->setText("Connecting...");
}

void MainWindow::OnConnected()
{
    m_connectionState->setText(
        QString("Online as %1").arg(QString::fromStdString(Settings::Get("username"))));
}

void MainWindow::OnDisconnected()
{
    m_connectionState->setText("Offline");
}

void MainWindow::OnConnectionFailed(const std::string& reason)
{
    m_connectionState->setText("Offline");
    const LoginFailure failure(reason);
    QMessageBox::warning(this, failure.Title(), failure.Text(), QMessageBox::Ok);
}
