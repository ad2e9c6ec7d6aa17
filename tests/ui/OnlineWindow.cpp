#include "OnlineWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "base/Settings.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "ui/MainWindow.h"

MainWindow* OpenOnlineWindow(quint16 serverPort)
{
    qputenv("QUORVALE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(serverPort));
    auto* window = new MainWindow;
    window->show();
    window->Init();
    Settings::Set("listening_port", 0);
    Settings::Set("obfuscated_listening_port", 0);
    if (!QTest::qWaitFor([] { return gp_server->IsConnected(); }) || !peerMessenger->Listen())
        return nullptr;
    gp_server->SetWaitPort(static_cast<unsigned>(Settings::GetInt("listening_port", 0)),
                           static_cast<unsigned>(Settings::GetInt("obfuscated_listening_port", 0)));
    return window;
}

bool WriteTestFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
