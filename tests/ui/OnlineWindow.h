#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>

class MainWindow;

// Opens the main window logged in to the lab server on `serverPort` as
// alice, answering the login dialog and closing any message box through
// `closer`, and listening on ports of its own so that tests running side
// by side do not collide. Returns nullptr when the login does not happen.
MainWindow* OpenOnlineWindow(QTimer& closer, quint16 serverPort);

// Writes `bytes` to `path`, making its folders; false when that fails.
bool WriteTestFile(const QString& path, const QByteArray& bytes);
