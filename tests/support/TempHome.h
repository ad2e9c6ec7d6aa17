#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh $HOME of one test case's own, on top of the one ctest gives.
class TempHome
{
public:
    TempHome() : m_previousHome(qgetenv("HOME")) { qputenv("HOME", m_dir.path().toLocal8Bit()); }
    ~TempHome() { qputenv("HOME", m_previousHome); }

    QString File(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previousHome;
};
