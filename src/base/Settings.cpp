#include "Settings.h"

#include <cstdlib>

#include "SettingsTypes.h"
#include "store/Data.h"
#include "store/DataSaver.h"

namespace {

constexpr const char* Yes = "yes";

ItemPtr FindKey(const char* keyType, const char* key)
{
    return d.GetType(keyType)->HasItem(key);
}

std::string GetIn(const char* keyType, const char* key)
{
    ItemPtr keyItem = FindKey(keyType, key);
    return keyItem ? keyItem[SettingsTypes::GlobalValue].AsString() : std::string();
}

void SetIn(const char* keyType, const char* key, const std::string& value)
{
    // One value per key: connecting the new value lets the store drop the
    // old one, with the disconnection seen by handlers first.
    Item* keyItem = d.GetType(keyType)->GetItem(key);
    keyItem->Connect(d.GetType(SettingsTypes::GlobalValue)->GetItem(value));
}

long long GetIntIn(const char* keyType, const char* key, long long defaultValue)
{
    ItemPtr keyItem = FindKey(keyType, key);
    ItemPtr value = keyItem ? keyItem[SettingsTypes::GlobalValue] : ItemPtr();
    if (!value)
        return defaultValue;
    const char* text = value.AsCStr();
    char* end = nullptr;
    const long long number = std::strtoll(text, &end, 10);
    return end == text ? defaultValue : number;
}

void SetYesIn(const char* keyType, const char* key, bool yes)
{
    if (yes) {
        SetIn(keyType, key, Yes);
        return;
    }
    if (ItemPtr keyItem = FindKey(keyType, key))
        keyItem.Disconnect(SettingsTypes::GlobalValue);
}

} // namespace

namespace Settings {

std::string Get(const char* key)
{
    return GetIn(SettingsTypes::Global, key);
}

void Set(const char* key, const std::string& value)
{
    SetIn(SettingsTypes::Global, key, value);
}

void Set(const char* key, const char* value)
{
    SetIn(SettingsTypes::Global, key, value ? value : "");
}

void Set(const char* key, long long value)
{
    SetIn(SettingsTypes::Global, key, std::to_string(value));
}

long long GetInt(const char* key, long long defaultValue)
{
    return GetIntIn(SettingsTypes::Global, key, defaultValue);
}

bool IsYes(const char* key)
{
    return GetIn(SettingsTypes::Global, key) == Yes;
}

void SetYes(const char* key, bool yes)
{
    SetYesIn(SettingsTypes::Global, key, yes);
}

std::string GetVolatile(const char* key)
{
    return GetIn(SettingsTypes::VGlobal, key);
}

void SetVolatile(const char* key, const std::string& value)
{
    SetIn(SettingsTypes::VGlobal, key, value);
}

void SetVolatile(const char* key, const char* value)
{
    SetIn(SettingsTypes::VGlobal, key, value ? value : "");
}

void SetVolatile(const char* key, long long value)
{
    SetIn(SettingsTypes::VGlobal, key, std::to_string(value));
}

long long GetVolatileInt(const char* key, long long defaultValue)
{
    return GetIntIn(SettingsTypes::VGlobal, key, defaultValue);
}

bool IsVolatileYes(const char* key)
{
    return GetIn(SettingsTypes::VGlobal, key) == Yes;
}

void SetVolatileYes(const char* key, bool yes)
{
    SetYesIn(SettingsTypes::VGlobal, key, yes);
}

void DeclareSchema(DataSaver& saver)
{
    Type* global = d.NewType(SettingsTypes::Global, true, false, true);
    Type* volatileGlobal = d.NewType(SettingsTypes::VGlobal, true, false, true);
    Type* value = d.NewType(SettingsTypes::GlobalValue, false, false, true);

    // Many keys per value, one value per key.
    global->RelateToType(value, MANY, ONE, false);
    volatileGlobal->RelateToType(value, MANY, ONE, false);

    // Values are saved only through a saved key; "vglobal" dies with the run.
    saver.AddSavedType(SettingsTypes::Global);
    saver.AddSavedByConnectionType(SettingsTypes::GlobalValue, SettingsTypes::Global);
}

} // namespace Settings
