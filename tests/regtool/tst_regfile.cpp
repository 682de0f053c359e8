#include "RegFileText.h"
#include "regtool/RegParser.h"
#include "regtool/RegWriter.h"
#include "store/Store.h"

#include <QTest>

using regtool::RegFormat;
using regtool::RegOperation;
using Kind = regtool::RegOperation::Kind;

Q_DECLARE_METATYPE(regtool::RegFormat)

namespace {

QByteArray withCrlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

RegOperation setValue(const QByteArray &key, const QByteArray &name, quint32 type,
                      const QByteArray &data, int line)
{
    RegOperation operation;
    operation.kind = Kind::SetValue;
    operation.keyPath = key;
    operation.name = name;
    operation.type = type;
    operation.data = data;
    operation.line = line;
    return operation;
}

RegOperation keyStep(Kind kind, const QByteArray &key, int line)
{
    RegOperation operation;
    operation.kind = kind;
    operation.keyPath = key;
    operation.line = line;
    return operation;
}

QByteArray sz(const QByteArray &text)
{
    return QByteArray(text).append('\0');
}

} // namespace

class TestRegFile : public QObject
{
    Q_OBJECT

private slots:
    void version5IsWrittenAsWindowsWritesIt()
    {
        regtool::RegWriter writer(RegFormat::Version5);
        QVERIFY(writer.key("Software\\Zel Software\\Ostrove"));
        QVERIFY(writer.value("ScanEvery", store::RegDword, QByteArray("\x0f\0\0\0", 4)));
        QVERIFY(writer.value("Language", store::RegSz,
                             sz("Fran\xC3\xA7"
                                "ais \"C:\\\"")));
        QVERIFY(writer.value("", store::RegSz, sz("")));
        QVERIFY(writer.value("Path", store::RegExpandSz, sz("%SystemRoot%\\system32")));
        QVERIFY(writer.value("List", store::RegMultiSz, QByteArray("a\0\xC3\xA9\0\0", 6)));
        QVERIFY(writer.value("Blob", store::RegBinary, QByteArray()));
        QVERIFY(writer.value("Big", 0xb, QByteArray("\x01\0\0\0\0\0\0\x80", 8)));
        QVERIFY(writer.key("Software\\Zel Software\\Ostrove\\Accounts"));

        const QString expected = QString::fromUtf8(
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:0000000f\n"
            "\"Language\"=\"Fran\xC3\xA7"
            "ais \\\"C:\\\\\\\"\"\n"
            "@=\"\"\n"
            "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\n"
            "  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,00,00\n"
            "\"List\"=hex(7):61,00,00,00,e9,00,00,00,00,00\n"
            "\"Blob\"=hex:\n"
            "\"Big\"=hex(b):01,00,00,00,00,00,00,80\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Zel Software\\Ostrove\\Accounts]\n"
            "\n");
        QCOMPARE(writer.finish(), unicodeFile(expected));
    }

    void regedit4IsWrittenAsOlderWindowsWritesIt()
    {
        regtool::RegWriter writer(RegFormat::Regedit4);
        QVERIFY(writer.key(QByteArray()));
        QVERIFY(writer.key("Software\\\xE9t\xE9")); // 8-bit bytes go out as they are
        QVERIFY(writer.value("Path", store::RegExpandSz, sz("%TEMP%\\x")));
        QVERIFY(writer.value("\xFF", store::RegSz, sz("\xFE")));
        const QByteArray expected = withCrlf("REGEDIT4\n"
                                             "\n"
                                             "[HKEY_LOCAL_MACHINE]\n"
                                             "\n"
                                             "[HKEY_LOCAL_MACHINE\\Software\\\xE9t\xE9]\n"
                                             "\"Path\"=hex(2):25,54,45,4d,50,25,5c,78,00\n"
                                             "\"\xFF\"=\"\xFE\"\n"
                                             "\n");
        QCOMPARE(writer.finish(), expected);
    }

    void longHexListsWrapWithinEightyColumns()
    {
        regtool::RegWriter writer(RegFormat::Regedit4);
        QVERIFY(writer.key("K"));
        QVERIFY(writer.value("a", store::RegBinary, QByteArray(100, '\x11')));
        const QList<QByteArray> lines = writer.finish().split('\n');
        // header, blank, key, then the value over five lines
        QCOMPARE(lines[3].left(9), QByteArray("\"a\"=hex:1"));
        int pairs = 0;
        for (int i = 3; i < 8; ++i) {
            const QByteArray line = lines[i].chopped(1); // the CR
            QVERIFY2(line.size() <= 80, line.constData());
            QCOMPARE(line.endsWith('\\'), i < 7);
            if (i > 3)
                QVERIFY(line.startsWith("  11"));
            pairs += int(line.count("11"));
        }
        QCOMPARE(pairs, 100);
        QCOMPARE(lines[8], QByteArray("\r"));
    }

    void stringsThatAreNotPlainTextBecomeHex_data()
    {
        QTest::addColumn<RegFormat>("format");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("line break, unicode")
            << RegFormat::Version5 << sz("a\r\nb")
            << QByteArray("\"v\"=hex(1):61,00,0d,00,0a,00,62,00,00,00");
        QTest::newRow("line break, 8-bit")
            << RegFormat::Regedit4 << sz("a\nb") << QByteArray("\"v\"=hex(1):61,0a,62,00");
        QTest::newRow("no terminator")
            << RegFormat::Regedit4 << QByteArray("ab") << QByteArray("\"v\"=hex(1):61,62");
        QTest::newRow("inner zero") << RegFormat::Regedit4 << QByteArray("a\0b\0", 4)
                                    << QByteArray("\"v\"=hex(1):61,00,62,00");
        QTest::newRow("empty") << RegFormat::Regedit4 << QByteArray()
                               << QByteArray("\"v\"=hex(1):");
    }

    void stringsThatAreNotPlainTextBecomeHex()
    {
        QFETCH(RegFormat, format);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, line);
        regtool::RegWriter writer(format);
        QVERIFY(writer.key("K"));
        QVERIFY(writer.value("v", store::RegSz, data));
        QByteArray file = writer.finish();
        if (format == RegFormat::Version5)
            file = QString::fromUtf16(reinterpret_cast<const char16_t *>(file.constData() + 2),
                                      (file.size() - 2) / 2)
                       .toUtf8();
        QVERIFY2(file.contains("\r\n" + line + "\r\n"), file.constData());
    }

    void unicodeFormRefusesBytesThatAreNotText()
    {
        regtool::RegWriter unicode(RegFormat::Version5);
        QVERIFY(unicode.key("K"));
        QVERIFY(!unicode.value("v", store::RegSz, sz("\xFF")));
        QVERIFY(unicode.error().contains(QStringLiteral("REGEDIT4")));
        QVERIFY(!unicode.value("\xC3", store::RegDword, QByteArray(4, '\0')));
        QVERIFY(!unicode.key("bad\xFF"));
        QVERIFY(!unicode.value("two\nlines", store::RegSz, sz("")));

        regtool::RegWriter eightBit(RegFormat::Regedit4);
        QVERIFY(eightBit.key("bad\xFF"));
        QVERIFY(eightBit.value("v", store::RegSz, sz("\xFF")));
        QVERIFY(!eightBit.key("two\rlines"));
    }

    void filesAsWindowsWritesThemAreRead_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<RegFormat>("format");
        QTest::addColumn<QByteArray>("language"); // as the store keeps them
        QTest::addColumn<QByteArray>("pattern");

        // Written by hand after the registry editor's documented layout.
        const char *unicodeText =
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:0000001e\n"
            "\"Language\"=\"\xC4\x8C"
            "e\xC5\xA1tina\"\n"
            "@=\"default \\\"quoted\\\" \\\\ back\"\n"
            "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,6c,00,6f,00,67,00,2e,\\\n"
            "  00,74,00,78,00,74,00,00,00\n"
            "\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\n"
            "\"Bits\"=hex:de,ad,be,ef\n"
            "\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\Old]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\MailFilter]\n"
            "\"*@spam.example\"=\"\"\n"
            "\"gone\"=-\n"
            "\n";
        const char *eightBitText =
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove]\n"
            "\"ScanEvery\"=dword:0000001e\n"
            "\"Language\"=\"\xC4\x8C"
            "e\xC5\xA1tina\"\n"
            "@=\"default \\\"quoted\\\" \\\\ back\"\n"
            "\"Expand\"=hex(2):25,54,45,4d,50,25,5c,6c,6f,67,2e,74,78,74,00\n"
            "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\n"
            "\"Bits\"=hex:de,ad,\\\n"
            "  be,ef\n"
            "\n"
            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\Old]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zel Software\\Ostrove\\MailFilter]\n"
            "\"*@spam.example\"=\"\"\n"
            "\"gone\"=-\n"
            "\n";
        const QByteArray czech("\xC4\x8C"
                               "e\xC5\xA1tina");
        const QByteArray spam("*@spam.example");
        QTest::newRow("unicode, UTF-16LE, CRLF")
            << unicodeFile(QString::fromUtf8(unicodeText)) << RegFormat::Version5 << czech << spam;
        QTest::newRow("unicode, 8-bit, LF")
            << QByteArray(unicodeText) << RegFormat::Version5 << czech << spam;
        QTest::newRow("REGEDIT4, 8-bit, CRLF")
            << withCrlf(eightBitText) << RegFormat::Regedit4 << czech << spam;
        QTest::newRow("REGEDIT4, UTF-16LE, CRLF")
            << unicodeFile(QString::fromUtf8(eightBitText)) << RegFormat::Regedit4 << czech << spam;
        QTest::newRow("unicode, 8-bit with a UTF-8 mark")
            << QByteArray("\xEF\xBB\xBF") + unicodeText << RegFormat::Version5 << czech << spam;
        // Windows writes REGEDIT4 in its ANSI code page: the store gets the text as UTF-8.
        QTest::newRow("REGEDIT4 in Windows-1252") << withCrlf(QByteArray(eightBitText)
                                                                  .replace(czech, "Fran\xE7"
                                                                                  "ais")
                                                                  .replace(spam, "*Gr\xFC\xDF"
                                                                                 "e*"))
                                                  << RegFormat::Regedit4
                                                  << QByteArray("Fran\xC3\xA7"
                                                                "ais")
                                                  << QByteArray("*Gr\xC3\xBC\xC3\x9F"
                                                                "e*");
    }

    void filesAsWindowsWritesThemAreRead()
    {
        QFETCH(QByteArray, file);
        QFETCH(RegFormat, format);
        QFETCH(QByteArray, language);
        QFETCH(QByteArray, pattern);
        const auto parsed = regtool::parseRegFile(file);
        QVERIFY2(!parsed.error, qPrintable(parsed.error ? parsed.error->reason : QString()));
        QCOMPARE(parsed.file.format, format);

        const QByteArray key("SOFTWARE\\Zel Software\\Ostrove");
        const QList<RegOperation> expected = {
            keyStep(Kind::CreateKey, key, 3),
            setValue(key, "ScanEvery", store::RegDword, QByteArray("\x1e\0\0\0", 4), 4),
            setValue(key, "Language", store::RegSz, sz(language), 5),
            setValue(key, "", store::RegSz, sz("default \"quoted\" \\ back"), 6),
            setValue(key, "Expand", store::RegExpandSz, sz("%TEMP%\\log.txt"), 7),
            setValue(key, "Multi", store::RegMultiSz, QByteArray("one\0two\0\0", 9),
                     format == RegFormat::Version5 ? 9 : 8),
            setValue(key, "Bits", store::RegBinary, QByteArray("\xde\xad\xbe\xef"),
                     format == RegFormat::Version5 ? 10 : 9),
            keyStep(Kind::DeleteKey, key + "\\Old", 12),
            keyStep(Kind::CreateKey, key + "\\MailFilter", 14),
            setValue(key + "\\MailFilter", pattern, store::RegSz, sz(""), 15),
        };
        RegOperation gone = keyStep(Kind::DeleteValue, key + "\\MailFilter", 16);
        gone.name = "gone";
        QList<RegOperation> all = expected;
        all.append(gone);
        QCOMPARE(parsed.file.operations.size(), all.size());
        for (qsizetype i = 0; i < all.size(); ++i) {
            const RegOperation &seen = parsed.file.operations[i];
            QCOMPARE(int(seen.kind), int(all[i].kind));
            QCOMPARE(seen.keyPath, all[i].keyPath);
            QCOMPARE(seen.name, all[i].name);
            QCOMPARE(seen.type, all[i].type);
            QCOMPARE(seen.data, all[i].data);
            QCOMPARE(seen.line, all[i].line);
        }
    }

    void looseButValidSpellingsAreRead()
    {
        const QByteArray file = "Windows Registry Editor Version 5.00\n"
                                "; a comment\n"
                                "  [hkey_local_machine\\A\\]  \n"
                                "\"d\" = DWORD:1F\n"
                                "\"h\"=HEX(0):\n"
                                "\"b\"=hex: 0A , FF ,\\   \n"
                                "\t01\n"
                                "\n"
                                "\"after\"=\"the blank line\"\n";
        const auto parsed = regtool::parseRegFile(file);
        QVERIFY2(!parsed.error, qPrintable(parsed.error ? parsed.error->reason : QString()));
        const auto &steps = parsed.file.operations;
        QCOMPARE(steps.size(), 5);
        QCOMPARE(steps[0].keyPath, QByteArray("A"));
        QCOMPARE(steps[1].data, QByteArray("\x1f\0\0\0", 4));
        QCOMPARE(steps[2].type, 0u);
        QCOMPARE(steps[2].data, QByteArray());
        QCOMPARE(steps[3].data, QByteArray("\x0a\xff\x01"));
        QCOMPARE(steps[4].name, QByteArray("after"));
    }

    void damagedFilesAreRefusedWithLineAndReason_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");

        const QByteArray header = "Windows Registry Editor Version 5.00\n\n";
        const QByteArray key = "[HKEY_LOCAL_MACHINE\\Software\\K]\n";
        QByteArray truncated = unicodeFile(QString::fromUtf8(header + key + "\"a\"=\"b\"\n"));
        truncated.chop(1);
        QByteArray loneSurrogate = unicodeFile(QString::fromUtf8(header + key + "\"a\"=\"x\"\n"));
        loneSurrogate[loneSurrogate.size() - 8] = '\x00';
        loneSurrogate[loneSurrogate.size() - 7] = '\xD8';

        QTest::newRow("empty") << QByteArray() << 1 << "not a registry file";
        QTest::newRow("no header")
            << QByteArray("[HKEY_LOCAL_MACHINE\\A]\n") << 1 << "not a registry file";
        QTest::newRow("truncated UTF-16") << truncated << 4 << "middle of a UTF-16 character";
        QTest::newRow("lone surrogate") << loneSurrogate << 4 << "lone surrogate";
        QTest::newRow("big-endian") << QByteArray("\xFE\xFF\0R", 4) << 1 << "big-endian";
        QTest::newRow("bad hex pair") << header + key + "\"a\"=hex:01,0g,03\n"
                                      << 4 << "bad hex pair \"0g\"";
        QTest::newRow("short hex pair") << header + key + "\"a\"=hex:01,2,03\n"
                                        << 4 << "bad hex pair \"2\"";
        QTest::newRow("bad hex pair on a continuation line")
            << header + key + "\"a\"=hex:01,\\\n  02,zz\n"
            << 5 << "bad hex pair \"zz\"";
        QTest::newRow("missing comma") << header + key + "\"a\"=hex:01 02\n"
                                       << 4 << "\",\" expected";
        QTest::newRow("empty pair") << header + key + "\"a\"=hex:01,,02\n" << 4 << "bad hex pair";
        QTest::newRow("a Windows-1252 key name too long in UTF-8")
            << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\" + QByteArray(200, '\xE9') + "]\n"
            << 3 << "longer than 255 bytes in UTF-8";
        QTest::newRow("unterminated string") << header + key + "\"a\"=\"no end\n"
                                             << 4 << "unterminated string";
        QTest::newRow("unterminated name") << header + key + "\"a=\"x\"\n" << 4 << "\"=\" expected";
        QTest::newRow("escape at the end") << header + key + "\"a\"=\"x\\\n"
                                           << 4 << "unterminated string";
        QTest::newRow("unknown escape") << header + key + "\"a\"=\"x\\n\"\n"
                                        << 4 << "unknown escape";
        QTest::newRow("value before any key") << header + "\"a\"=\"b\"\n"
                                              << 3 << "a value before any key";
        QTest::newRow("unknown root") << header + "[HKEY_LOCAL_MASHINE\\Software]\n"
                                      << 3 << "unknown root key";
        QTest::newRow("another root") << header + "[HKEY_CURRENT_USER\\Software]\n"
                                      << 3 << "not under HKEY_CURRENT_USER";
        QTest::newRow("another root deleted") << header + key + "[-HKEY_USERS\\x]\n"
                                              << 4 << "not under HKEY_USERS";
        QTest::newRow("file ends in a continuation") << header + key + "\"a\"=hex:01,\\\n"
                                                     << 4 << "ends inside a value";
        QTest::newRow("blank line in a continuation") << header + key + "\"a\"=hex:01,\\\n\n  02\n"
                                                      << 4 << "blank line inside";
        QTest::newRow("garbage after a string") << header + key + "\"a\"=\"b\" c\n"
                                                << 4 << "unexpected text";
        QTest::newRow("bad dword") << header + key + "\"a\"=dword:123456789\n" << 4 << "dword";
        QTest::newRow("dword digit") << header + key + "\"a\"=dword:0000000x\n" << 4 << "dword";
        QTest::newRow("bad type") << header + key + "\"a\"=hex(xyz):00\n" << 4 << "bad type";
        QTest::newRow("unknown data") << header + key + "\"a\"=qword:1\n" << 4 << "unknown value";
        QTest::newRow("key without bracket") << header + "[HKEY_LOCAL_MACHINE\\A\n"
                                             << 3 << "closing";
        QTest::newRow("empty key name") << header + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n"
                                        << 3 << "empty key name";
        QTest::newRow("key name too long")
            << header + "[HKEY_LOCAL_MACHINE\\" + QByteArray(256, 'k') + "]\n"
            << 3 << "longer than 255";
        QTest::newRow("value name too long")
            << header + key + '"' + QByteArray(16384, 'n') + "\"=\"\"\n"
            << 4 << "longer than 16383";
        QTest::newRow("odd UTF-16 in hex(2)") << header + key + "\"a\"=hex(2):41,00,42\n"
                                              << 4 << "odd number of bytes";
        QTest::newRow("lone surrogate in hex(7)") << header + key + "\"a\"=hex(7):00,d8,00,00\n"
                                                  << 4 << "lone surrogate";
        QTest::newRow("value under a deleted key")
            << header + "[-HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\"\n"
            << 4 << "deletes";
        QTest::newRow("deleting the root") << header + "[-HKEY_LOCAL_MACHINE]\n"
                                           << 3 << "cannot be deleted";
        QTest::newRow("zero byte")
            << header + key + QByteArray("\"a\"=\"\0\"\n", 8) << 4 << "zero character";
        QTest::newRow("stray line") << header + key + "hello\n" << 4 << "neither a key";
        QTest::newRow("fault late in a long file")
            << header + key + QByteArray("\"ok\"=\"\"\n").repeated(1000) + "\"x\"=hex:1\n"
            << 1004 << "bad hex pair";
    }

    void damagedFilesAreRefusedWithLineAndReason()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, line);
        QFETCH(QString, reason);
        const auto parsed = regtool::parseRegFile(file);
        QVERIFY(parsed.error.has_value());
        QCOMPARE(parsed.error->line, line);
        QVERIFY2(parsed.error->reason.contains(reason), qPrintable(parsed.error->reason));
    }

    // What the writer emits, the reader takes back to the same steps, for every type.
    void writtenFilesReadBackUnchanged_data()
    {
        QTest::addColumn<RegFormat>("format");
        QTest::newRow("unicode") << RegFormat::Version5;
        QTest::newRow("REGEDIT4") << RegFormat::Regedit4;
    }

    void writtenFilesReadBackUnchanged()
    {
        QFETCH(RegFormat, format);
        struct Value
        {
            QByteArray name;
            quint32 type;
            QByteArray data;
        };
        const QList<Value> values = {
            {"", store::RegSz, sz("default")},
            {"quote\"back\\slash", store::RegSz, sz("\"\\\\\"")},
            {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", store::RegSz,
             sz("\xC3\xBC\xF0\x9F\x98\x80")},
            {"empty", store::RegSz, sz("")},
            {"lines", store::RegSz, sz("one\r\ntwo\nthree\r")},
            {QByteArray(16383, 'N'), store::RegSz, sz("long name")},
            {"expand", store::RegExpandSz, sz("%PATH%;\xC3\xA9")},
            {"multi", store::RegMultiSz, QByteArray("a\0\xC3\xA9\0\0", 6)},
            {"dword", store::RegDword, QByteArray("\xff\xff\xff\xff", 4)},
            {"short dword", store::RegDword, QByteArray("\x01", 1)},
            {"binary", store::RegBinary, QByteArray(300, '\x5a')},
            {"none", 0, QByteArray()},
            {"qword", 0xb, QByteArray("\0\1\2\3\4\5\6\7", 8)},
            {"odd type", 0xffffffff, QByteArray("\x80")},
        };
        regtool::RegWriter writer(format);
        QVERIFY(writer.key("A\\\xC3\xA9[x]"));
        for (const Value &value : values)
            QVERIFY2(writer.value(value.name, value.type, value.data), qPrintable(writer.error()));
        QVERIFY(writer.key(QByteArray()));

        const auto parsed = regtool::parseRegFile(writer.finish());
        QVERIFY2(!parsed.error, qPrintable(parsed.error ? parsed.error->reason : QString()));
        const auto &steps = parsed.file.operations;
        QCOMPARE(steps.size(), values.size() + 2);
        QCOMPARE(steps.first().keyPath, QByteArray("A\\\xC3\xA9[x]"));
        QCOMPARE(int(steps.last().kind), int(Kind::CreateKey));
        QCOMPARE(steps.last().keyPath, QByteArray());
        for (qsizetype i = 0; i < values.size(); ++i) {
            const RegOperation &step = steps[i + 1];
            QCOMPARE(int(step.kind), int(Kind::SetValue));
            QCOMPARE(step.name, values[i].name);
            QCOMPARE(step.type, values[i].type);
            QCOMPARE(step.data, values[i].data);
        }
    }
};

QTEST_GUILESS_MAIN(TestRegFile)
#include "tst_regfile.moc"
