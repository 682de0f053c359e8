#include "mail/HeaderText.h"
#include "mail/HtmlText.h"
#include "mail/MessageFacts.h"

#include <QTest>

using namespace mail;

namespace {

QByteArray crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

} // namespace

class TestMessageFacts : public QObject
{
    Q_OBJECT

private slots:
    void headerText_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray(" Hello there") << "Hello there";
        QTest::newRow("B, UTF-8") << QByteArray("=?UTF-8?B?WsW8w7PFgnc=?=") << "Zżółw";
        QTest::newRow("b, lower case") << QByteArray("=?utf-8?b?WsW8w7PFgnc=?=") << "Zżółw";
        QTest::newRow("B with a stray character")
            << QByteArray("=?UTF-8?B?WsW8w7P!Fgnc=?=") << "Zżółw";
        QTest::newRow("Q, UTF-8") << QByteArray("=?utf-8?q?Gr=C3=B6=C3=9Fe_Preise?=")
                                  << "Größe Preise";
        QTest::newRow("Q, ISO-8859-2")
            << QByteArray("=?ISO-8859-2?Q?=AFu=B3ty_=BF=F3=B3w?=") << "Żułty żółw";
        QTest::newRow("padding inside a run of B words")
            << QByteArray("=?UTF-8?B?TGVraSBiZXogcmVjZQ==?= =?UTF-8?B?cHR5IOKAkyB0YW5pbw==?=")
            << QString::fromUtf8("Leki bez recepty \xE2\x80\x93 tanio");
        QTest::newRow("a character split between two words")
            << QByteArray("=?UTF-8?B?xQ==?= =?UTF-8?B?uw==?=") << QString::fromUtf8("\xC5\xBB");
        QTest::newRow("folded over lines")
            << QByteArray("=?UTF-8?Q?Cheap_V?=\r\n =?UTF-8?Q?iagra?= now\r\n\tand later")
            << "Cheap Viagra now\tand later";
        QTest::newRow("text between words stays")
            << QByteArray("=?UTF-8?Q?a?= b =?UTF-8?Q?c?=") << "a b c";
        QTest::newRow("two charsets") << QByteArray("=?ISO-8859-1?Q?caf=E9?= =?UTF-8?B?4oKs?=")
                                      << QString::fromUtf8("caf\xC3\xA9\xE2\x82\xAC");
        QTest::newRow("language suffix")
            << QByteArray("=?UTF-8*pl?Q?=C5=BC?=") << QString::fromUtf8("\xC5\xBC");
        QTest::newRow("undeclared 8-bit latin-1") << QByteArray("Pr\xE9sent") << "Présent";
        QTest::newRow("undeclared 8-bit UTF-8") << QByteArray("Pr\xC3\xA9sent") << "Présent";
        QTest::newRow("malformed Q escapes stay as written")
            << QByteArray("=?UTF-8?Q?andr=C3=A9=zz=3?=") << QString::fromUtf8("andr\xC3\xA9=zz=3");
        QTest::newRow("not an encoded word") << QByteArray("=?broken") << "=?broken";
        QTest::newRow("a blank inside is no encoded word")
            << QByteArray("=?UTF-8?Q?free pills?=") << "=?UTF-8?Q?free pills?=";
        QTest::newRow("unknown charset") << QByteArray("=?X-NOPE?Q?abc?=") << "abc";
    }
    void headerText()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        QCOMPARE(decodeHeaderText(raw), text);
    }

    void htmlText_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("tags") << "<p>Hello <b>big</b> world</p>"
                              << "Hello big world";
        QTest::newRow("inline tags do not part words") << "<b>V</b>iagra"
                                                       << "Viagra";
        QTest::newRow("inline tags in capitals") << "<B>V</B>i<SPAN>agra</SPAN>"
                                                 << "Viagra";
        QTest::newRow("block tags do") << "one<br>two<div>three</div>"
                                       << "one two three";
        QTest::newRow("attributes are not text")
            << "<a href=\"http://viagra.example\" title='viagra > cheap'>link</a>"
            << "link";
        QTest::newRow("entities") << "&#x56;iagra &amp; caf&eacute; &#233;t&eacute;&nbsp;x"
                                  << "Viagra & café été x";
        QTest::newRow("numeric no-break spaces") << "a&#160;b&#xA0;c"
                                                 << "a b c";
        QTest::newRow("unknown entity stays") << "&bogus; &"
                                              << "&bogus; &";
        QTest::newRow("scripts, styles, comments")
            << "<style>p{viagra}</style>a<script>viagra()</script>b<!-- viagra -->c"
            << "abc";
        QTest::newRow("upper-case script and style")
            << "a<SCRIPT>casino()</SCRIPT>b<Style>p{casino}</Style>c"
            << "abc";
        QTest::newRow("unterminated tag") << "text <b"
                                          << "text";
        QTest::newRow("huge reference") << "&#99999999999;" << QString(QChar(0xFFFD));
        QTest::newRow("a lone < is text, apart from the word before") << "a <3 b"
                                                                      << "a <3 b";
        QTest::newRow("empty inline elements do not part words")
            << "vi<img src=x>a<x-y></x-y>g<wbr>ra"
            << "viagra";
        QTest::newRow("an apostrophe in an unquoted value") << "<a title=it's>link</a> more"
                                                            << "link more";
        QTest::newRow("a quoted value after a blank") << "<a title= 'x > y'>link</a>"
                                                      << "link";
        QTest::newRow("cells, items and headings part words")
            << "<td>a</td><td>b</td><li>c</li><h1>d</h1>e"
            << "a b c d e";
        QTest::newRow("references to two UTF-16 units, packed")
            << "<i>&#128512;</i>&#x1F600; &#65536;&#65536"
            << QString::fromUtf8(
                   "\xF0\x9F\x98\x80\xF0\x9F\x98\x80 \xF0\x90\x80\x80\xF0\x90\x80\x80");
    }
    void htmlText()
    {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(htmlToText(html), text);
    }

    void sendersAreTheAddressesOfFrom()
    {
        const QByteArray message = crlf("From: =?UTF-8?Q?J=C3=B3zef?= <JOZEF@Example.PL>, "
                                        "\"Ann, B\" <ann@b.example>, group: c@d.example;\n"
                                        "Subject: hi\n\nbody\n");
        const MessageFacts facts = readMessageFacts(message, false);
        QVERIFY(facts.judgeable);
        QCOMPARE(facts.senders, (QStringList{"JOZEF@Example.PL", "ann@b.example", "c@d.example"}));
        QVERIFY(facts.fromText.startsWith(QStringLiteral("Józef <JOZEF@Example.PL>")));
        QVERIFY(facts.bodyText.isEmpty()); // not asked for
        // Delimiters inside an encoded name do not cut the mailbox apart.
        const MessageFacts special = readMessageFacts(
            crlf("From: =?utf-8?q?a;b?= <f01@x.test>, =?utf-8?b?Wzxd?= <g@x.test>\n\n"), false);
        QCOMPARE(special.senders, (QStringList{"f01@x.test", "g@x.test"}));
        // A person reads no invisible characters in a name or a subject.
        const MessageFacts hidden = readMessageFacts(
            crlf("From: =?UTF-8?Q?Ph=E2=80=8Barm?= <a@b.c>\nSubject: =?UTF-8?Q?Vi=C2=ADagra?=\n\n"),
            false);
        QCOMPARE(hidden.fromText, QStringLiteral("Pharm <a@b.c>"));
        QCOMPARE(hidden.subject, QStringLiteral("Viagra"));
        // Blanks at the ends of a decoded subject do not belong to it.
        QCOMPARE(readMessageFacts(crlf("Subject: =?UTF-8?Q?__Offer_?=\n\n"), false).subject,
                 QStringLiteral("Offer"));
    }

    void theHeaderAloneGivesTheSameSendersAndSubject_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("folded, encoded, group")
            << crlf("Received: x\nfrom: =?UTF-8?Q?J=C3=B3zef?=\n <j@x.example>, grp: a@b.c,\n"
                    "  \"Q, R\" <q@r.s>;\nSUBJECT: =?UTF-8?B?TGVraSBiZXogcmVjZQ==?=\n"
                    " =?UTF-8?B?cHR5IOKAkyB0YW5pbw==?=\nSubject: second\n\nFrom: body@x.y\n");
        QTest::newRow("continuations of other fields")
            << crlf("Subject: hi\nX-Note: a\n b@c.d\nFrom: x@y.z\nTo: q\n z@w.v\n\n");
        QTest::newRow("no From, bare line feeds") << QByteArray("Subject: hi\n\nbody\n");
        QTest::newRow("no From or Subject, both in the body")
            << crlf("To: a@b.c\n\nFrom: x@spam.example\nSubject: spam\n");
        QTest::newRow("comments and route") << crlf("From: (c) a@b.c (d)\nSubject:\n\n");
        QTest::newRow("8-bit display name") << QByteArray("From: Ren\xE9 <r@x.y>\r\n\r\n");
        QTest::newRow("specials inside encoded names")
            << crlf("From: =?utf-8?q?a;b?= <f01@x.test>, =?utf-8?b?Wzxd?=\n <g@x.test>\n\n");
        QTest::newRow("header only, no body") << QByteArray("From: a@b.c\r\nSubject: s");
    }
    void theHeaderAloneGivesTheSameSendersAndSubject()
    {
        QFETCH(QByteArray, message);
        const MessageFacts header = readMessageFacts(message, false);
        const MessageFacts whole = readMessageFacts(message, true);
        QVERIFY(header.judgeable);
        QCOMPARE(header.senders, whole.senders);
        QCOMPARE(header.subject, whole.subject);
        QCOMPARE(header.fromText, whole.fromText);
    }

    void bodyTextLeavesAttachmentsOut()
    {
        const QByteArray message =
            crlf("From: a@b.c\nSubject: x\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=\"B\"\n\n"
                 "--B\nContent-Type: text/plain; charset=iso-8859-2\n"
                 "Content-Transfer-Encoding: quoted-printable\n\n"
                 "=AFu=B3w\n"
                 "--B\nContent-Type: text/html\n"
                 "Content-Transfer-Encoding: base64\n\n"
                 "PGI+aHRtbDwvYj4gd29yZA==\n"
                 "--B\nContent-Type: text/plain\n"
                 "Content-Disposition: attachment; filename=\"notes.txt\"\n\n"
                 "secretword\n"
                 "--B--\n");
        const MessageFacts facts = readMessageFacts(message, true);
        QVERIFY(facts.judgeable);
        QCOMPARE(facts.bodyText, QStringLiteral("żułw html word")); // folded as the rules compare
        QCOMPARE(facts.attachments.size(), 1);
        QCOMPARE(facts.attachments.first().name, QStringLiteral("notes.txt"));
        QCOMPARE(facts.attachments.first().decodedBytes,
                 qint64(10)); // the last line break is the boundary's
    }

    void attachmentNamesAndDecodedSizes()
    {
        const QByteArray payload(1025, 'z');
        const QByteArray message =
            crlf("From: a@b.c\nSubject: x\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=\"B\"\n\n"
                 "--B\nContent-Type: application/octet-stream; "
                 "name=\"=?UTF-8?Q?r=C3=A9sum=C3=A9.pdf?=\"\n"
                 "Content-Transfer-Encoding: base64\n\n"
                 + payload.toBase64()
                 + "\n"
                   "--B\nContent-Type: application/octet-stream\n"
                   "Content-Disposition: attachment; filename*0*=UTF-8''%C5%BC%C3%B3%C5%82w;"
                   " filename*1=\".zip\"\n\n"
                   "abc\n"
                   "--B\nContent-Type: message/rfc822\nContent-Disposition: attachment; "
                   "filename=\"fwd.eml\"\n\n"
                   "From: c@d.e\nSubject: inner\nMIME-Version: 1.0\n"
                   "Content-Type: multipart/mixed; boundary=\"C\"\n\n"
                   "--C\nContent-Type: text/plain\n\ninner text\n"
                   "--C\nContent-Type: application/x-msdownload; name=\"setup\"\n\nMZ\n"
                   "--C--\n"
                   "--B--\n");
        const MessageFacts facts = readMessageFacts(message, true);
        QVERIFY(facts.judgeable);
        QStringList names;
        for (const AttachmentFact &attachment : facts.attachments)
            names.append(attachment.name);
        QCOMPARE(names, (QStringList{QStringLiteral("résumé.pdf"), QStringLiteral("żółw.zip"),
                                     QStringLiteral("fwd.eml"), QStringLiteral("setup")}));
        QCOMPARE(facts.attachments.first().decodedBytes, qint64(1025));
        QVERIFY(facts.bodyText.isEmpty()); // the attached message's text is not this one's
    }

    // Base64 that goes on after its padding is not whole: the size a lenient decoder makes of
    // it would put the attachment into some size range.
    void base64GoingOnAfterItsPaddingIsNotDecoded()
    {
        const MessageFacts facts = readMessageFacts(
            crlf("From: a@b.c\nMIME-Version: 1.0\nContent-Type: application/zip; name=a.zip\n"
                 "Content-Transfer-Encoding: base64\n\nQUJD\nQQ==\nQUJD\n"),
            true);
        QCOMPARE(facts.attachments.size(), 1);
        QCOMPARE(facts.attachments.first().decodedBytes, qint64(-1));
        QCOMPARE(facts.bodyProblem, QStringLiteral("the attachment \"a.zip\" cannot be decoded"));
    }

    // Large text parts are decoded and converted in pieces: characters cut between pieces,
    // stateful charsets and text that is not what it declares come out as when read whole.
    void largeTextReadsAsWhole_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        const QByteArray utf8 = QByteArray("Żółć 日本 ").repeated(20000);
        const QString utf8Text = QString::fromUtf8(utf8).toCaseFolded().trimmed();
        QTest::newRow("UTF-8, 8bit") << QByteArray("charset=utf-8") << utf8 << utf8Text;
        QTest::newRow("UTF-8, base64")
            << QByteArray("charset=utf-8\r\nContent-Transfer-Encoding: base64") << utf8.toBase64()
            << utf8Text;
        QTest::newRow("Shift_JIS, characters across pieces")
            << QByteArray("charset=Shift_JIS")
            << "a" + QByteArray("\x93\xFA\x96\x7B").repeated(40000)
            << "a" + QStringLiteral("日本").repeated(40000);
        QTest::newRow("ISO-2022-JP, shifted for the whole part")
            << QByteArray("charset=ISO-2022-JP")
            << "\x1b$B" + QByteArray("F|K\\").repeated(30000) + "\x1b(B end"
            << QStringLiteral("日本").repeated(30000) + QStringLiteral(" end");
        QTest::newRow("declared UTF-8, really Latin-1")
            << QByteArray("charset=utf-8") << QByteArray("Pr\xE9sent ").repeated(20000)
            << QStringLiteral("présent ").repeated(20000).trimmed();
        QTest::newRow("declared UTF-8, cut inside the last character")
            << QByteArray("charset=utf-8") << QByteArray(100000, 'x') + "\xC3"
            << QString(100000, u'x') + QStringLiteral("ã");
        QTest::newRow("a charset nobody knows")
            << QByteArray("charset=x-unknown") << QByteArray("caf\xC3\xA9 ").repeated(20000)
            << QStringLiteral("café ").repeated(20000).trimmed();
    }
    void largeTextReadsAsWhole()
    {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        const MessageFacts facts = readMessageFacts(
            "From: a@b.c\r\nContent-Type: text/plain; " + header + "\r\n\r\n" + body, true);
        QVERIFY(facts.judgeable);
        QCOMPARE(facts.bodyProblem, QString());
        QCOMPARE(facts.bodyText.size(), text.size());
        QVERIFY(facts.bodyText == text);
    }

    // GMime's tree costs about two kilobytes a part: a message of more parts is judged by its
    // header, and kept with the reason when nothing there matches.
    void partsBeyondTheLimitAreNotRead()
    {
        for (const int attachments : {2000, 2001}) {
            QByteArray message = "From: a@b.c\r\nContent-Type: multipart/mixed; boundary=\"=B\"\r\n"
                                 "\r\nnot a part:\r\n--=Bogus\r\n";
            for (int i = 0; i < attachments; ++i)
                message += "--=B\r\nContent-Type: application/x-binary; name=f.exe\r\n\r\nMZ\r\n";
            message += "--=B--\r\n";
            const MessageFacts facts = readMessageFacts(message, true);
            QVERIFY(facts.judgeable);
            QCOMPARE(facts.senders, QStringList{QStringLiteral("a@b.c")});
            QCOMPARE(facts.attachments.size(), attachments <= 2000 ? attachments : 0);
            QCOMPARE(facts.bodyProblem, attachments <= 2000
                                            ? QString()
                                            : QStringLiteral("it has more than 2000 parts"));
        }
    }

    void damagedMessagesGiveFactsOrAReasonNeverACrash_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only, no blank line") << QByteArray("Subject: x");
        QTest::newRow("missing boundary")
            << crlf("Content-Type: multipart/mixed\n\n--B\nContent-Type: text/plain\n\nhi\n");
        QTest::newRow("truncated part")
            << crlf("Content-Type: multipart/mixed; boundary=B\n\n--B\nContent-Type: text/plain;"
                    " name=a.txt\nContent-Transfer-Encoding: base64\n\nQUJD");
        QTest::newRow("bad base64")
            << crlf("Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\n!!!@@@###\n");
        QTest::newRow("binary noise") << QByteArray("\x00\x01\xff\xfe\r\n\r\n\x80", 9);
        QTest::newRow("deep nesting") << [] {
            QByteArray text;
            for (int i = 0; i < 200; ++i)
                text += "Content-Type: multipart/mixed; boundary=b" + QByteArray::number(i)
                        + "\r\n\r\n--b" + QByteArray::number(i) + "\r\n";
            return text;
        }();
    }
    void damagedMessagesGiveFactsOrAReasonNeverACrash()
    {
        QFETCH(QByteArray, message);
        const MessageFacts facts = readMessageFacts(message, true);
        QVERIFY(facts.judgeable || !facts.problem.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMessageFacts)
#include "tst_messagefacts.moc"
