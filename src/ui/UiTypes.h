#pragma once

// Store types of the window layer.
namespace UiTypes {
// A log category, keyed by its name.
constexpr const char* Log = "log";
// The address of the text view that shows a log category.
constexpr const char* LogWidget = "log_widget";
} // namespace UiTypes
