#pragma once

// Store types of the settings, in the order Settings::DeclareSchema
// creates them.
namespace SettingsTypes {
// A saved setting, keyed by the setting's name.
constexpr const char* Global = "global";
// A setting that lives only while the program runs.
constexpr const char* VGlobal = "vglobal";
// A setting's text; one item serves every key holding the same text.
constexpr const char* GlobalValue = "global_value";
} // namespace SettingsTypes
