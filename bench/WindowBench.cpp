#include "WindowBench.h"

#include <QFile>

// Runs before the application object exists, which picks its platform
// once.
int& WindowBench::Offscreen(int& argc)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return argc;
}

WindowBench::WindowBench(int& argc, char** argv, const char* program,
                         std::initializer_list<BenchSupport::Option> options)
    : m_application(Offscreen(argc), argv), m_startUp(&m_host)
{
    BenchSupport::ParseOptions(argc, argv, program, options);
}

void WindowBench::StartCore()
{
    qputenv("HOME", QFile::encodeName(m_home.path()));
    m_startUp.Init();
}
