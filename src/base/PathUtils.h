#pragma once

#include <string>

// Path helpers for names that come from other users as well as from this
// machine, so both "/" and "\" count as separators throughout.

// The last component; one trailing separator is ignored.
std::string GetFileName(const std::string& path);
// Everything before the last component; one trailing separator is ignored.
// A path without separators is returned whole.
std::string GetFolder(const std::string& path);
// GetFolder after dropping every trailing "\".
std::string GetParentFolder(const std::string& path);
// The lower-case text after the last ".", or empty.
std::string GetFileExtension(const std::string& name);
// The components in reverse order joined by "/": a/b/c gives c/b/a.
std::string ReversePathname(const std::string& path);
// A comparison key: runs of separators collapsed to their first character,
// one trailing separator dropped, lower case.
std::string GetAbsoluteFileName(const std::string& path);
