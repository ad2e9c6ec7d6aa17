#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTest>

// The window names its pictures by resource path only, so a missing alias or
// a missing SVG engine shows up as blank buttons rather than as an error.
class ResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void EveryIconDrawsAtToolBarSizes();
};

namespace {

bool HasVisiblePixels(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
    return false;
}

} // namespace

void ResourcesTest::EveryIconDrawsAtToolBarSizes()
{
    const QStringList names = {
        "add_user",       "alert",      "browse",    "chat",     "connect",      "data",
        "diagnostics",    "disconnect", "download",  "offline",  "online",       "options",
        "privileges",     "rescan",     "room",      "search",   "share_folder", "transfers",
        "unshare_folder", "upload",     "user_list", "wish_list"};
    for (const QString& name : names) {
        // A missing file gives a null icon, whose pixmaps are empty.
        const QString path = ":/icons/" + name + "_icon";
        for (int size : {16, 48}) {
            const QPixmap pixmap = QIcon(path).pixmap(size);
            QVERIFY2(pixmap.size() == QSize(size, size), qPrintable(path));
            QVERIFY2(HasVisiblePixels(pixmap.toImage()), qPrintable(path));
        }
    }
    // Only the named icons are in the bundle: a stray file would be a name
    // nobody can rely on.
    QCOMPARE(QDir(":/icons").entryList().size(), names.size());
}

QTEST_MAIN(ResourcesTest)
#include "ResourcesTest.moc"
