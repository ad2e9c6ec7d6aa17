#include <algorithm>
#include <random>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kItems = 2000; // about 4 MB on disk: a save takes a while
constexpr int kKills = 120;

class Churn
{
public:
    void Start(const QStringList& arguments)
    {
        m_lines.clear();
        m_process.start(QStringLiteral(SNAPSHOT_CHURN_PATH), arguments);
    }

    QString WaitFor(const QString& prefix)
    {
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired();) {
            Collect();
            for (int n = 0; n < m_lines.size(); ++n)
                if (m_lines[n].startsWith(prefix))
                    return m_lines.takeAt(n);
            if (m_process.state() == QProcess::NotRunning)
                return {};
            m_process.waitForReadyRead(50);
        }
        return {};
    }

    QStringList Finish()
    {
        m_process.waitForFinished(20000);
        Collect();
        return m_lines;
    }

    void Kill()
    {
        m_process.kill(); // SIGKILL: no handler runs, nothing is flushed
        m_process.waitForFinished(5000);
        Collect();
    }

    QString LastSaved() const
    {
        for (int n = m_lines.size() - 1; n >= 0; --n)
            if (m_lines[n].startsWith("saved\t"))
                return m_lines[n].section('\t', 1, 1);
        return {};
    }

private:
    void Collect()
    {
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).chopped(1);
    }

    QProcess m_process;
    QStringList m_lines;
};

} // namespace

class SnapshotCrashTest : public QObject
{
    Q_OBJECT

private slots:
    // Killed at random, mostly mid-save, the helper must always restart on a
    // whole snapshot: the last one it reported or the one it was writing.
    void KilledMidSaveLeavesAWholeSnapshot()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("snapshot");
        std::mt19937 random(20261207);
        Churn churn;
        long lastSaved = 0;
        int midSave = 0;
        int saveMs = 20; // learnt from the saves that finish
        for (int kill = 0; kill < kKills; ++kill) {
            churn.Start({path, QString::number(kItems)});
            const QString loaded = churn.WaitFor("loaded\t");
            if (loaded.isEmpty())
                QFAIL(qPrintable("no snapshot loaded: " + churn.Finish().join('\n')));
            const long generation = loaded.section('\t', 1, 1).toLong();
            QVERIFY2(generation == lastSaved || generation == lastSaved + 1,
                     qPrintable(QString("after kill %1: loaded %2, last saved %3")
                                    .arg(kill)
                                    .arg(loaded)
                                    .arg(lastSaved)));
            QCOMPARE(loaded.section('\t', 2, 2).toInt(), generation == 0 ? 0 : kItems);
            lastSaved = generation;

            // Every fourth run lets the save finish, so newer snapshots exist.
            QVERIFY(!churn.WaitFor("saving\t").isEmpty());
            if (kill % 4 == 3) {
                const QString saved = churn.WaitFor("saved\t");
                QVERIFY(!saved.isEmpty());
                lastSaved = saved.section('\t', 1, 1).toLong();
                saveMs = std::max(saveMs, saved.section('\t', 2, 2).toInt());
            }
            QTest::qWait(int(random() % std::uint32_t(saveMs + 1)));
            churn.Kill();
            if (!churn.LastSaved().isEmpty())
                lastSaved = churn.LastSaved().toLong();
            // Clearing a cut save's temporary file keeps disk use flat.
            const QStringList left = QDir(dir.path()).entryList({"snapshot.*"}, QDir::Files);
            midSave += left.isEmpty() ? 0 : 1;
            for (const QString& name : left)
                QFile::remove(dir.filePath(name));
        }
        QVERIFY(!QFile::exists(path + ".unreadable"));
        qInfo("%d kills, %d of them mid-save, %ld snapshots saved", kKills, midSave, lastSaved);
        QVERIFY(midSave >= kKills / 3);
        QVERIFY(lastSaved >= kKills / 4);
    }

    // On a disk too small, the save is abandoned and the previous one still loads.
    void FullDiskKeepsThePreviousSnapshot()
    {
        const QString unshare = QStandardPaths::findExecutable("unshare");
        if (unshare.isEmpty() || QProcess::execute(unshare, {"-rm", "true"}) != 0)
            QSKIP("no unprivileged user and mount namespaces here to mount a small tmpfs in");
        QTemporaryDir dir;
        const QString script = QStringLiteral("mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 3\n"
                                              "\"$2\" \"$1/snapshot\" 100 --once\n"
                                              "\"$2\" \"$1/snapshot\" %1 --once\n"
                                              "\"$2\" \"$1/snapshot\" 100 --once\n")
                                   .arg(kItems);
        QProcess run;
        run.start(unshare, {"-rm", "sh", "-c", script, "sh", dir.path(), SNAPSHOT_CHURN_PATH});
        QVERIFY(run.waitForFinished(30000));
        const QStringList lines =
            QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        if (run.exitCode() == 3)
            QSKIP("mounting a tmpfs is not permitted here");
        const QStringList expected{"loaded\t0\t0", "saved\t1", "loaded\t1\t100", "save-failed\t2",
                                   "loaded\t1\t100"};
        QStringList events;
        QString logLine;
        for (const QString& line : lines) {
            if (line.startsWith("log\t"))
                logLine = line;
            else if (line.startsWith("saved\t"))
                events << line.section('\t', 0, 1); // without the time taken
            else if (!line.startsWith("saving\t"))
                events << line;
        }
        QCOMPARE(events.mid(0, 5), expected);
        QVERIFY2(logLine.startsWith("log\tSnapshot\t") &&
                     logLine.contains("Could not save the snapshot to " + dir.path()) &&
                     logLine.contains("No space left on device") &&
                     logLine.endsWith("The previous snapshot is kept."),
                 qPrintable(logLine));
    }
};

QTEST_GUILESS_MAIN(SnapshotCrashTest)
#include "SnapshotCrashTest.moc"
