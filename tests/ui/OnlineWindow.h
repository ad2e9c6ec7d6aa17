#pragma once

#include <QByteArray>
#include <QString>

class MainWindow;

// Opens the main window logged in to the lab server on `serverPort`, the
// login dialog answered by a ModalAnswerer the caller keeps running, and
// listening on ports of its own so that tests running side by side do not
// collide. Returns nullptr when the login does not happen.
MainWindow* OpenOnlineWindow(quint16 serverPort);

// Writes `bytes` to `path`, making its folders; false when that fails.
bool WriteTestFile(const QString& path, const QByteArray& bytes);
