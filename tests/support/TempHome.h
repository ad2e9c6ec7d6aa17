#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary folder that stands in for $HOME for the lifetime of the object.
// ctest already runs each test binary under a fresh HOME; this helper gives a
// single test case its own clean folder on top of that.
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
