#include <QDir>
#include <QtTest>

// Run twice: under the harness, whose home must be kept, and as if by hand
// with QUORVALE_REAL_HOME naming the home the process was started with, which
// must have been replaced by an empty temporary folder before main().
class TestHomeGuardTest : public QObject
{
    Q_OBJECT

private slots:
    void HomeIsAlwaysAFreshTemporaryFolder()
    {
        const QString home = QDir::homePath();
        QVERIFY(home.startsWith(QDir::tempPath() + "/quorvale-test-home."));
        QCOMPARE(qgetenv("QUORVALE_TEST_HOME"), home.toLocal8Bit());
        const QByteArray real = qgetenv("QUORVALE_REAL_HOME");
        if (!real.isEmpty())
            QVERIFY(home.toLocal8Bit() != real);
        QVERIFY(QDir(home).exists());
        QVERIFY(QDir(home).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHomeGuardTest)
#include "TestHomeGuardTest.moc"
