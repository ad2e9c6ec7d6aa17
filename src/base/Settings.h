#pragma once

#include <concepts>
#include <string>
#include <type_traits>

class DataSaver;

// Settings live in the store: a key item ("global", or "vglobal" for those
// that are not saved) connected to one "global_value" item holding the text.
// A yes/no setting is on when its value is "yes" and off when it has none.
// Every function but DeclareSchema needs the schema declared first.
namespace Settings {

// "" when the key has no value. Reading never creates the key.
std::string Get(const char* key);
void Set(const char* key, const std::string& value);
void Set(const char* key, const char* value);
void Set(const char* key, long long value);
// Any other integer type. A literal 0 must not turn into a null text, and a
// bool must not be stored as "1": yes/no settings go through SetYes.
template <std::integral T> void Set(const char* key, T value)
{
    static_assert(!std::is_same_v<T, bool>, "use Settings::SetYes for yes/no settings");
    Set(key, std::to_string(value));
}
// The value read as a decimal number, or `defaultValue` when the key has no
// value or the value does not start with a number.
long long GetInt(const char* key, long long defaultValue);
bool IsYes(const char* key);
void SetYes(const char* key, bool yes);

// The same for settings that are not saved.
std::string GetVolatile(const char* key);
void SetVolatile(const char* key, const std::string& value);
void SetVolatile(const char* key, const char* value);
void SetVolatile(const char* key, long long value);
template <std::integral T> void SetVolatile(const char* key, T value)
{
    static_assert(!std::is_same_v<T, bool>, "use Settings::SetVolatileYes for yes/no settings");
    SetVolatile(key, std::to_string(value));
}
long long GetVolatileInt(const char* key, long long defaultValue);
bool IsVolatileYes(const char* key);
void SetVolatileYes(const char* key, bool yes);

// Declares the setting types and their relations, and which of them the
// snapshot keeps. Called once at start-up, before the snapshot is loaded.
void DeclareSchema(DataSaver& saver);

} // namespace Settings
