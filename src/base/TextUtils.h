#pragma once

#include <string>

#include <QString>

// Small text helpers shared by the views and the managers. All are pure.

// n with "," between groups of three digits; empty for zero and below.
QString CommafyNumber(long long n);
// A duration as "1d2h3m4s"; days and hours appear only when non-zero.
std::string FormatSeconds(long seconds);
QString EscapeHTML(const QString& text);
// Turns every http or https address in the text into a link to itself.
QString ConvertLinks(const QString& text);
// Bit number `bit` of `value`, counting the lowest bit as 1.
bool GetBit(unsigned int value, int bit);
