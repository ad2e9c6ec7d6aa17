#include "ui/DesktopOpener.h"

#include <QDesktopServices>

namespace DesktopOpener {

namespace {
std::function<void(const QUrl&)>& Opener()
{
    static std::function<void(const QUrl&)> opener;
    return opener;
}
} // namespace

void OpenLocalPath(const QString& path)
{
    QString local = path;
    local.replace('\\', '/');
    const QUrl url = QUrl::fromLocalFile(local);
    if (Opener())
        Opener()(url);
    else
        QDesktopServices::openUrl(url);
}

void SetOpenerForTesting(std::function<void(const QUrl&)> opener)
{
    Opener() = std::move(opener);
}

} // namespace DesktopOpener
