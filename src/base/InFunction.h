#pragma once

#include <set>
#include <string>

// Marks a named function as running for as long as the marker lives, so that
// code reached from inside it can tell (IsInFunction) and avoid re-entering.
// Names are held once: an inner marker with the same name clears the mark.
class InFunction
{
public:
    explicit InFunction(const char* name);
    ~InFunction();
    InFunction(const InFunction&) = delete;
    InFunction& operator=(const InFunction&) = delete;

    // Clears the mark early; later calls, and the destructor, do nothing.
    void Dispose();

private:
    std::string m_name;
    bool m_disposed = false;
};

bool IsInFunction(const char* name);

// Names of the functions currently marked as running.
extern std::set<std::string> g_inFunctions;
