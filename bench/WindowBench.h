#pragma once

#include <initializer_list>

#include <QApplication>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "app/StartUp.h"

// What every window benchmark starts with: the offscreen platform unless
// another is asked for, the application object, its options, and on request
// the whole client core in a home of its own (never the user's). The core
// is shut down with this object; windows go before it.
class WindowBench
{
public:
    WindowBench(int& argc, char** argv, const char* program,
                std::initializer_list<BenchSupport::Option> options);

    void StartCore();

private:
    static int& Offscreen(int& argc);

    QApplication m_application;
    QTemporaryDir m_home;
    BenchSupport::Host m_host;
    StartUp m_startUp;
};
