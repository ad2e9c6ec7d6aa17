#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "../support/Bytes.h"
#include "sharing/MP3Scanner.h"

namespace {

constexpr std::uint8_t MpegOne = 0xFB;         // version 1, Layer III, no CRC
constexpr std::uint8_t MpegOneCrc = 0xFA;      // the same with a CRC
constexpr std::uint8_t MpegTwo = 0xF3;         // version 2, Layer III, no CRC
constexpr std::uint8_t MpegTwoAndHalf = 0xE3;  // version 2.5, Layer III
constexpr std::uint8_t MpegTwoLayerOne = 0xF7; // version 2, Layer I
constexpr int Stereo = 0, JointStereo = 1, DualMono = 2, Mono = 3;

// `count` frames: a header and a zero body, which cannot hold a sync.
QByteArray Frames(int count, std::uint8_t versionLayer, int bitrateIndex, int rate = 0,
                  int mode = JointStereo)
{
    ByteBuilder frame;
    frame.Byte(0xFF)
        .Byte(versionLayer)
        .Byte(std::uint8_t(bitrateIndex << 4 | rate << 2))
        .Byte(std::uint8_t(mode << 6))
        .Raw(QByteArray(96, '\0'));
    return frame.Data().repeated(count);
}

} // namespace

class MP3ScannerTest : public QObject
{
    Q_OBJECT

private slots:
    void EncodedFilesReportTheirSettings_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<int>("bitrate");

        // As make-mp3s.sh told the encoder; the VBR mean is of its 79 frames.
        QTest::newRow("cbr 32 mono") << "cbr32_mono.mp3" << 1 << "mono" << 0 << false << 32;
        QTest::newRow("cbr 320 stereo 48k")
            << "cbr320_stereo.mp3" << 1 << "stereo" << 1 << false << 320;
        QTest::newRow("vbr joint") << "vbr_joint.mp3" << 1 << "joint stereo" << 0 << true << 180;
        QTest::newRow("mpeg-2 22.05k mono")
            << "mpeg2_22k_mono.mp3" << 2 << "mono" << 0 << false << 48;
        // Its tag holds false syncs, one agreeing with the stream.
        QTest::newRow("cbr 128 behind a tag with false syncs")
            << "id3_cbr128.mp3" << 1 << "joint stereo" << 0 << false << 128;
    }

    void EncodedFilesReportTheirSettings()
    {
        QFETCH(QString, file);
        QFETCH(int, bitrate);
        const Result r = Scan(Data(file));
        QVERIFY(r.ok);
        QTEST(r.version, "version");
        QTEST(QString::fromStdString(r.mode), "mode");
        QTEST(r.rate, "rate");
        QTEST(r.vbr, "vbr");
        QCOMPARE(r.bitrate, bitrate);
    }

    void FilesWithoutLayerThreeStreamsGiveNoResult()
    {
        QVERIFY(!ScanBytes(Frames(50, MpegTwoAndHalf, 5)).ok);
        // A few MPEG-1 frames lose to a majority of MPEG-2.5 ones.
        QVERIFY(!ScanBytes(Frames(10, MpegOne, 9) + Frames(11, MpegTwoAndHalf, 5)).ok);
        QVERIFY(!ScanBytes(QByteArray("Just some notes about a song.\n").repeated(100)).ok);
        // Free-format and bad bitrate indexes never become candidates.
        QVERIFY(!ScanBytes(Frames(30, MpegOne, 0) + Frames(30, MpegOne, 15)).ok);
        // Layer I frames still vote for their version.
        QVERIFY(!ScanBytes(Frames(60, MpegOne, 9) + Frames(70, MpegTwoLayerOne, 5)).ok);

        Result empty = ScanBytes(QByteArray());
        QVERIFY(!empty.ok);
        QCOMPARE(empty.bitrate, -1);
        QVERIFY(!Scan(m_dir.filePath("missing.mp3")).ok);
    }

    void MajorityDecidesWhichFramesCount()
    {
        // Exactly 98 % at one bitrate is VBR: the integer mean is reported.
        Result r = ScanBytes(Frames(98, MpegOne, 9) + Frames(2, MpegOne, 5));
        QVERIFY(r.ok && r.vbr);
        QCOMPARE(r.bitrate, (98 * 128 + 2 * 64) / 100);
        r = ScanBytes(Frames(99, MpegOne, 9) + Frames(1, MpegOne, 5));
        QVERIFY(r.ok && !r.vbr);
        QCOMPARE(r.bitrate, 128);

        // Only frames agreeing with every decision count, not the mono ones.
        r = ScanBytes(Frames(60, MpegOne, 9) + Frames(40, MpegOne, 14, 0, Mono));
        QVERIFY(r.ok && !r.vbr);
        QCOMPARE(r.mode, std::string("joint stereo"));
        QCOMPARE(r.bitrate, 128);

        // Ties go to version 2, the higher mode and rate index, and no CRC.
        r = ScanBytes(Frames(50, MpegOne, 9) + Frames(50, MpegTwo, 8));
        QCOMPARE(r.version, 2);
        QCOMPARE(r.bitrate, 64);
        r = ScanBytes(Frames(50, MpegOne, 9, 0, Stereo) + Frames(50, MpegOne, 5, 0, DualMono));
        QCOMPARE(r.mode, std::string("dual mono"));
        QCOMPARE(r.bitrate, 64);
        r = ScanBytes(Frames(50, MpegOne, 9, 2) + Frames(50, MpegOne, 5, 1));
        QCOMPARE(r.rate, 2);
        QCOMPARE(r.bitrate, 128);
        r = ScanBytes(Frames(50, MpegOneCrc, 9) + Frames(50, MpegOne, 5));
        QCOMPARE(r.bitrate, 128);
        r = ScanBytes(Frames(50, MpegOneCrc, 9) + Frames(51, MpegOne, 5));
        QCOMPARE(r.bitrate, 64);
    }

    void HeadersCutByABlockEndAreSkipped()
    {
        // One 64 kbit/s header at `at` after 49 at 128: counted, it makes VBR.
        const auto withHeaderAt = [](qsizetype at) {
            QByteArray bytes = Frames(49, MpegOne, 9);
            bytes += QByteArray(at - bytes.size(), '\0');
            bytes += ByteBuilder().Byte(0xFF).Byte(MpegOne).Byte(0x50).Byte(0x40).Data();
            return bytes + QByteArray(64, '\0');
        };
        QVERIFY(ScanBytes(withHeaderAt(65531)).vbr);  // ends one byte before the block does
        QVERIFY(!ScanBytes(withHeaderAt(65532)).vbr); // its last byte ends the block
        QVERIFY(!ScanBytes(withHeaderAt(65534)).vbr); // straddles
        QVERIFY(ScanBytes(withHeaderAt(65536)).vbr);  // starts the next block
    }

    void QuitStopsScansNotYetStarted()
    {
        const QString path = m_dir.filePath("Café 128.mp3");
        QVERIFY(QFile::copy(Data("cbr128_joint.mp3"), path));
        QSignalSpy scanned(&m_scanner, &MP3Scanner::MP3Scanned);
        // Scanned away from the caller; a failing scan reports nothing.
        const std::string utf8 = path.toStdString();
        m_scanner.Enqueue({utf8, m_dir.filePath("missing.mp3").toStdString(), utf8});
        QCOMPARE(scanned.size(), 0);
        QTRY_COMPARE(scanned.size(), 2);
        QCOMPARE(scanned[0], QVariantList({path, 1, "joint stereo", 0, false, 128}));
        QCOMPARE(scanned[1], scanned[0]);

        m_scanner.Quit();
        m_scanner.OnMP3ScanRequired(path);
        m_scanner.Enqueue({utf8});
        QCoreApplication::processEvents();
        QCOMPARE(scanned.size(), 2);
        Result r;
        r.bitrate = 7;
        QVERIFY(!m_scanner.ScanMP3(QFile::encodeName(path).toStdString(), r.version, r.mode, r.rate,
                                   r.vbr, r.bitrate));
        QCOMPARE(r.bitrate, 7); // returned before even presetting the result
    }

private:
    struct Result
    {
        bool ok = false;
        int version = 0;
        std::string mode;
        int rate = -1;
        bool vbr = false;
        int bitrate = 0;
    };

    Result Scan(const QString& path)
    {
        Result r;
        r.ok = m_scanner.ScanMP3(QFile::encodeName(path).toStdString(), r.version, r.mode, r.rate,
                                 r.vbr, r.bitrate);
        return r;
    }

    Result ScanBytes(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath("frames.mp3");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            return Result();
        file.close();
        return Scan(path);
    }

    QString Data(const QString& name) const { return QUORVALE_TEST_DATA "/mp3/" + name; }

    MP3Scanner m_scanner;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(MP3ScannerTest)
#include "MP3ScannerTest.moc"
