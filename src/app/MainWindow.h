#pragma once

#include <QMainWindow>

#include "app/StartUp.h"
#include "app/StartUpHost.h"

class DiagnosticsForm;

// The main window. For now it holds the diagnostics view; it runs the
// shared start-up sequence and wires its own parts in between the steps.
class MainWindow : public QMainWindow, public StartUpHost
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();

    // StartUpHost
    void PrepareLogging() override;
    void SnapshotLoadFailed(const char* title, const char* text) override;

private:
    StartUp m_startUp;
    DiagnosticsForm* m_diagnostics;
};

extern MainWindow* mainWindow;
