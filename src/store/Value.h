#pragma once

#include <cstdint>
#include <string>

// The key an item carries. Numbers are written in decimal; a pointer to a live
// object is written as its full 64-bit address in decimal so that the same
// object always yields the same value and can be found again.
class Value
{
public:
    Value(const char* text) : m_text(text ? text : "") {}
    Value(char* text) : m_text(text ? text : "") {}
    Value(const std::string& text) : m_text(text) {}
    Value(std::string&& text) : m_text(std::move(text)) {}
    Value(int n) : m_text(std::to_string(n)) {}
    Value(unsigned int n) : m_text(std::to_string(n)) {}
    Value(long n) : m_text(std::to_string(n)) {}
    Value(unsigned long n) : m_text(std::to_string(n)) {}
    Value(long long n) : m_text(std::to_string(n)) {}
    Value(unsigned long long n) : m_text(std::to_string(n)) {}
    template <class T>
    Value(T* object) : m_text(std::to_string(reinterpret_cast<std::uintptr_t>(object)))
    {}

    const std::string& Text() const { return m_text; }
    std::string&& Take() { return std::move(m_text); }

private:
    std::string m_text;
};
