#pragma once

#include <QObject>
#include <QString>

class StartUpHost;

// Set first thing at shutdown so that late callbacks can see the program is
// going away.
extern bool g_showIsOver;

// The program's spine: creates the managers in their fixed order, loads the
// snapshot once every type is declared, saves it every five minutes, and at
// shutdown saves once more and deletes the managers in reverse order. The
// window and the headless node both run exactly this sequence.
class StartUp : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* LoadFailureTitle = "Error loading configuration data";
    static constexpr const char* LoadFailureText =
        "Your client configuration data could not be loaded. Starting from scratch...";

    explicit StartUp(StartUpHost* host);
    ~StartUp() override;

    void Init();
    // Idempotent; also run by the destructor.
    void Shutdown();

    // The snapshot file: ".Quorvale" in the user's home folder.
    static QString SnapshotPath();

public slots:
    void EveryFiveMinutes();

private:
    void DeclareStartUpTypes();
    void StoreDefaults();
    void LoadSnapshot();
    void CollectAndSave();

    StartUpHost* m_host;
    bool m_started = false;
    bool m_stopped = false;
};
