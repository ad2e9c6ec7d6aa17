#pragma once

#include <functional>

#include <QString>
#include <QUrl>

// Hands local files and folders to the desktop's own handler. Tests replace
// the handler to see what would have been opened.
namespace DesktopOpener {

// Opens a "\" or "/" separated local path.
void OpenLocalPath(const QString& path);
void SetOpenerForTesting(std::function<void(const QUrl&)> opener);

} // namespace DesktopOpener
