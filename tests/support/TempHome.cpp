#include "TempHome.h"

TempHome::TempHome() : m_previousHome(qgetenv("HOME"))
{
    qputenv("HOME", m_dir.path().toLocal8Bit());
}

TempHome::~TempHome()
{
    qputenv("HOME", m_previousHome);
}
