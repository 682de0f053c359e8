#include "platform/ProfileFile.h"

#include <QTemporaryDir>
#include <QTest>

using platform::ProfileFile;

class TestProfileFile : public QObject
{
    Q_OBJECT

private slots:
    void sectionsInFileOrder()
    {
        const auto file = ProfileFile::fromBytes("[Polski]\nAdd=Dodaj\n[English]\n[Deutsch]\n");
        QCOMPARE(file.sectionNames(), (QList<QByteArray>{"Polski", "English", "Deutsch"}));
    }

    void lookupsIgnoreCaseAndTrimAndUnquote()
    {
        const auto file = ProfileFile::fromBytes(
            "[Polski]\r\n  add  =  Dodaj  \r\nRemove=\"  Usuń \"\r\nEdit='Edytuj'\r\nAbout=\"x'\r\n"
            "Close=a=b\r\n");
        QCOMPARE(file.readString("POLSKI", "ADD", "d"), QByteArray("Dodaj"));
        QCOMPARE(file.readString("polski", "Remove", "d"), QByteArray("  Usuń "));
        QCOMPARE(file.readString("Polski", "Edit", "d"), QByteArray("Edytuj"));
        QCOMPARE(file.readString("Polski", "About", "d"), QByteArray("\"x'"));
        QCOMPARE(file.readString("Polski", "Close", "d"), QByteArray("a=b"));
        QCOMPARE(file.readString("Polski", "Missing", "default"), QByteArray("default"));
        QCOMPARE(file.readString("Klingon", "Add", "default"), QByteArray("default"));
    }

    void oddLinesDoNotDerailTheReader()
    {
        const auto file = ProfileFile::fromBytes("\xEF\xBB\xBF"
                                                 "Orphan=before any section\n"
                                                 "; a comment\n"
                                                 "\n"
                                                 "[ Deutsch ]\n"
                                                 "no equals sign here\n"
                                                 "Add=Hinzufügen\n"
                                                 "Add=second\n"
                                                 "[deutsch]\n"
                                                 "Remove=never read\n"
                                                 "[Broken\n"
                                                 "Edit=x\r"
                                                 "Close=y");
        QCOMPARE(file.sectionNames(), (QList<QByteArray>{"Deutsch", "deutsch", "Broken"}));
        QCOMPARE(file.readString("Deutsch", "Add", "d"), QByteArray("Hinzufügen"));
        // Only the first section of a name is read.
        QCOMPARE(file.readString("Deutsch", "Remove", "Remove"), QByteArray("Remove"));
        QCOMPARE(file.readString("Deutsch", "Orphan", "none"), QByteArray("none"));
        QCOMPARE(file.readString("Broken", "Close", "d"), QByteArray("y"));
        QCOMPARE(file.readString("Broken", "Edit", "d"), QByteArray("x"));
    }

    void garbageAndLargeFilesAreReadWithoutHarm()
    {
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(char((i * 7919) % 256));
        const auto noise = ProfileFile::fromBytes(garbage);
        Q_UNUSED(noise.sectionNames());
        QCOMPARE(noise.readString("x", "y", "d"), QByteArray("d"));

        QByteArray large("[Big]\n");
        while (large.size() < 10 * 1024 * 1024)
            large.append("Key").append(QByteArray::number(large.size())).append("=value\n");
        large.append("Add=found\n");
        const auto big = ProfileFile::fromBytes(large);
        QCOMPARE(big.readString("big", "add", "d"), QByteArray("found"));
    }

    void aMissingOrUnreadableFileHasNoSections()
    {
        QTemporaryDir folder;
        QVERIFY(ProfileFile(folder.filePath(QStringLiteral("none.lng"))).sectionNames().isEmpty());
        QVERIFY(ProfileFile(folder.path()).sectionNames().isEmpty()); // a folder, not a file
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
