#include "InFunction.h"

std::set<std::string> g_inFunctions;

InFunction::InFunction(const char* name) : m_name(name)
{
    g_inFunctions.insert(m_name);
}

InFunction::~InFunction()
{
    Dispose();
}

void InFunction::Dispose()
{
    if (m_disposed)
        return;
    m_disposed = true;
    g_inFunctions.erase(m_name);
}

bool IsInFunction(const char* name)
{
    return g_inFunctions.count(name) != 0;
}
