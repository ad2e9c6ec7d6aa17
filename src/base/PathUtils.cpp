#include "PathUtils.h"

#include <vector>

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Lower-cases ASCII letters only, so the result does not depend on the
// locale and multi-byte UTF-8 sequences pass through untouched.
std::string ToLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string WithoutTrailingSeparator(const std::string& path)
{
    if (!path.empty() && IsSeparator(path.back()))
        return path.substr(0, path.size() - 1);
    return path;
}

std::size_t FindLastSeparator(const std::string& path)
{
    return path.find_last_of("/\\");
}

} // namespace

std::string GetFileName(const std::string& path)
{
    const std::string trimmed = WithoutTrailingSeparator(path);
    const std::size_t at = FindLastSeparator(trimmed);
    return at == std::string::npos ? trimmed : trimmed.substr(at + 1);
}

std::string GetFolder(const std::string& path)
{
    const std::string trimmed = WithoutTrailingSeparator(path);
    const std::size_t at = FindLastSeparator(trimmed);
    return at == std::string::npos ? trimmed : trimmed.substr(0, at);
}

std::string GetParentFolder(const std::string& path)
{
    const std::size_t end = path.find_last_not_of('\\');
    return GetFolder(end == std::string::npos ? std::string() : path.substr(0, end + 1));
}

std::string GetFileExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : ToLower(name.substr(dot + 1));
}

std::string ReversePathname(const std::string& path)
{
    std::vector<std::string> components;
    std::string current;
    for (char c : path) {
        if (IsSeparator(c)) {
            if (!current.empty())
                components.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        components.push_back(current);

    std::string reversed;
    for (auto it = components.rbegin(); it != components.rend(); ++it) {
        if (!reversed.empty())
            reversed += '/';
        reversed += *it;
    }
    return reversed;
}

std::string GetAbsoluteFileName(const std::string& path)
{
    // One pass into one string: indexing a share makes this form of every
    // file's name, a million of them for a large share, and a copy for
    // each step cost three allocations per name. After collapsing, at most
    // one separator trails.
    std::string result;
    result.reserve(path.size());
    for (char c : path) {
        if (IsSeparator(c) && !result.empty() && IsSeparator(result.back()))
            continue;
        result += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!result.empty() && IsSeparator(result.back()))
        result.pop_back();
    return result;
}
