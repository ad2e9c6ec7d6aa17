#include <optional>

#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>

// A test binary started by hand would read and write the real home folder
// (snapshots, settings, downloads). Unless the harness has already given this
// process a fresh home (with-temp-home names it in QUORVALE_TEST_HOME), HOME
// is pointed at a new temporary folder here, before main() and so before any
// application object reads it. The folder goes when the process exits.
namespace {

class TestHomeGuard
{
public:
    TestHomeGuard()
    {
        const QByteArray home = qgetenv("HOME");
        if (!home.isEmpty() && home == qgetenv("QUORVALE_TEST_HOME"))
            return;
        m_dir.emplace(QDir::tempPath() + "/quorvale-test-home.XXXXXX");
        const QByteArray path = m_dir->isValid() ? m_dir->path().toLocal8Bit() : "/nonexistent";
        qputenv("HOME", path);
        qputenv("QUORVALE_TEST_HOME", path);
    }

private:
    std::optional<QTemporaryDir> m_dir;
};

const TestHomeGuard guard;

} // namespace
