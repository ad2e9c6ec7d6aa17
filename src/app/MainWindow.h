#pragma once

#include <string>

#include <QMainWindow>

#include "app/StartUp.h"
#include "app/StartUpHost.h"

class DiagnosticsForm;
class QLabel;

// The main window. For now it holds the diagnostics view and shows the
// connection state; it runs the shared start-up sequence and wires its own
// parts in between the steps.
class MainWindow : public QMainWindow, public StartUpHost
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();

    // StartUpHost
    void PrepareLogging() override;
    void ManagersCreated() override;
    void SnapshotLoadFailed(const char* title, const char* text) override;
    void SnapshotLoaded() override;

private slots:
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(const std::string& reason);

private:
    StartUp m_startUp;
    DiagnosticsForm* m_diagnostics;
    QLabel* m_connectionState;
};

extern MainWindow* mainWindow;
