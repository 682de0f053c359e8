#include "mail/Pop3ReplyReader.h"

#include <QTest>

using mail::Pop3ReplyReader;
using Result = Pop3ReplyReader::Result;

class TestPop3ReplyReader : public QObject
{
    Q_OBJECT

private slots:
    void statusLines()
    {
        Pop3ReplyReader reader;
        Pop3ReplyReader::Status status;
        QCOMPARE(reader.takeStatus(&status), Result::NeedMore);
        reader.append("+OK ready\r\n-ERR no such message\r\n+OK\r\n");
        QCOMPARE(reader.takeStatus(&status), Result::Ready);
        QVERIFY(status.ok);
        QCOMPARE(status.text, QByteArray("ready"));
        QCOMPARE(reader.takeStatus(&status), Result::Ready);
        QVERIFY(!status.ok);
        QCOMPARE(status.text, QByteArray("no such message"));
        QCOMPARE(reader.takeStatus(&status), Result::Ready);
        QVERIFY(status.ok);
        QCOMPARE(reader.pendingBytes(), 0);
    }

    void aReplyArrivingInPiecesIsWhole()
    {
        Pop3ReplyReader reader;
        Pop3ReplyReader::Status status;
        const QByteArray wire = "+OK 2 octets\r\nab\r\n..dot\r\n.\r\n";
        qsizetype fed = 0;
        while (reader.takeStatus(&status) != Result::Ready)
            reader.append(wire.mid(fed++, 1));
        QVERIFY(status.ok);
        QCOMPARE(fed, 14); // not before the status line was whole
        reader.append(wire.mid(fed, wire.size() - 1 - fed));
        QByteArray data;
        QCOMPARE(reader.takeData(&data, 1000), Result::NeedMore);
        reader.append(wire.right(1));
        QCOMPARE(reader.takeData(&data, 1000), Result::Ready);
        QCOMPARE(data, QByteArray("ab\r\n.dot\r\n")); // dot-stuffing undone
    }

    // Only CRLF "." CRLF ends a reply: after a bare LF, a "." is the message's own text and
    // is neither the end nor dot-stuffing.
    void whereDataEnds_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("CRLF") << QByteArray("a\r\n..b\r\n.\r\n") << QByteArray("a\r\n.b\r\n");
        QTest::newRow("bare LF line") << QByteArray("a\nb\r\n.\r\n") << QByteArray("a\nb\r\n");
        QTest::newRow("dot after bare LF")
            << QByteArray("a\n.\n+OK\r\n.\r\n") << QByteArray("a\n.\n+OK\r\n");
        QTest::newRow("dots after bare LF kept")
            << QByteArray("a\n..\r\n.\r\n") << QByteArray("a\n..\r\n");
        QTest::newRow("dot line ended by a bare LF")
            << QByteArray("a\r\n.\nb\r\n.\r\n") << QByteArray("a\r\n\nb\r\n");
    }
    void whereDataEnds()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, data);
        Pop3ReplyReader reader;
        reader.append(wire + "+OK next\r\n");
        QByteArray taken;
        QCOMPARE(reader.takeData(&taken, 100), Result::Ready);
        QCOMPARE(taken, data);
        Pop3ReplyReader::Status status;
        QCOMPARE(reader.takeStatus(&status), Result::Ready);
        QCOMPARE(status.text, QByteArray("next"));
    }

    void brokenReplies_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("no status word") << QByteArray("HELLO\r\n");
        QTest::newRow("status glued to text") << QByteArray("+OKAY\r\n");
        QTest::newRow("binary") << QByteArray("\x00\xff\r\n", 4);
        QTest::newRow("overlong status line") << QByteArray(5000, 'x');
        QTest::newRow("overlong status line, ended") << "+OK " + QByteArray(5000, 'x') + "\r\n";
    }
    void brokenReplies()
    {
        QFETCH(QByteArray, wire);
        Pop3ReplyReader reader;
        reader.append(wire);
        Pop3ReplyReader::Status status;
        QCOMPARE(reader.takeStatus(&status), Result::Bad);
    }

    void dataBeyondTheLimitIsRefused()
    {
        Pop3ReplyReader reader;
        reader.append(QByteArray(100, 'a') + "\r\n");
        QByteArray data;
        QCOMPARE(reader.takeData(&data, 50), Result::Bad);
        Pop3ReplyReader unterminated;
        unterminated.append(QByteArray(100, 'a'));
        QCOMPARE(unterminated.takeData(&data, 50), Result::Bad);
        QCOMPARE(unterminated.takeData(&data, 500), Result::NeedMore);
        // The line breaks count: ten bytes of data fit in ten, eleven do not.
        Pop3ReplyReader exact;
        exact.append("12345678\r\n.\r\n123456789\r\n.\r\n");
        QCOMPARE(exact.takeData(&data, 10), Result::Ready);
        QCOMPARE(data, QByteArray("12345678\r\n"));
        QCOMPARE(exact.takeData(&data, 10), Result::Bad);
    }
};

QTEST_GUILESS_MAIN(TestPop3ReplyReader)
#include "tst_pop3replyreader.moc"
