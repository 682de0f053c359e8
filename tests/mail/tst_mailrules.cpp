#include "mail/MatchText.h"
#include "mail/Rules.h"
#include "mail/ServerAddress.h"
#include "mail/Wildcard.h"

#include <QTest>

using namespace mail;

namespace {

MessageFacts factsFrom(const QStringList &senders, const QString &subject = {},
                       const QString &body = {}, const QList<AttachmentFact> &attachments = {})
{
    MessageFacts facts;
    facts.judgeable = true;
    facts.senders = senders;
    facts.subject = subject;
    facts.bodyText = foldedForMatching(body, Blanks::Collapse); // as a message is read
    facts.attachments = attachments;
    return facts;
}

} // namespace

class TestMailRules : public QObject
{
    Q_OBJECT

private slots:
    void wildcards_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("whole");
        QTest::addColumn<bool>("part");
        QTest::newRow("equal") << "spam@example.com"
                               << "spam@example.com" << true << true;
        QTest::newRow("star domain") << "john@spam.example"
                                     << "*@spam.example" << true << true;
        QTest::newRow("longer address is not the pattern") << "john@spam.example.org"
                                                           << "*@spam.example" << false << true;
        QTest::newRow("question marks count characters") << "john.doe@example.com"
                                                         << "john.doe@example.???" << true << true;
        QTest::newRow("too few characters") << "john.doe@example.co"
                                            << "john.doe@example.???" << false << false;
        QTest::newRow("question mark takes one non-BMP character")
            << QString::fromUtf8("a\xF0\x9F\x98\x80"
                                 "b")
            << "a?b" << true << true;
        QTest::newRow("star takes nothing") << "ab"
                                            << "a*b" << true << true;
        QTest::newRow("stars both ends") << "xxabyy"
                                         << "*ab*" << true << true;
        QTest::newRow("piece repeated") << "abab"
                                        << "*ab" << true << true;
        QTest::newRow("anchored end after greedy middle") << "axbxb"
                                                          << "a*b" << true << true;
        QTest::newRow("pieces in order only") << "ba"
                                              << "a*b" << false << false;
        QTest::newRow("empty text, star") << ""
                                          << "*" << true << true;
        QTest::newRow("empty text, question mark") << ""
                                                   << "?" << false << false;
        QTest::newRow("part inside") << "buy cheap pills now"
                                     << "cheap p?lls" << false << true;
        QTest::newRow("regex characters are plain") << "a.c"
                                                    << "a.c" << true << true;
        QTest::newRow("a dot is not any character") << "abc"
                                                    << "a.c" << false << false;
        const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80");
        const QString grin2 = QString::fromUtf8("\xF0\x9F\x98\x81");
        QTest::newRow("question mark first") << "xab"
                                             << "?ab" << true << true;
        QTest::newRow("question mark last") << "abx"
                                            << "ab?" << true << true;
        QTest::newRow("question mark last, nothing left") << "ab"
                                                          << "ab?" << false << false;
        QTest::newRow("question marks around a part") << "zzabzz"
                                                      << "?ab?" << false << true;
        QTest::newRow("question mark takes a pair at the end")
            << "ab" + grin << "ab?" << true << true;
        QTest::newRow("a pair is one character, not two")
            << "ab" + grin << "ab??" << false << false;
        QTest::newRow("question marks before a pair") << grin + grin + "x"
                                                      << "??x" << true << true;
        QTest::newRow("pair, question mark, pair")
            << "x" + grin + "y" + grin2 + "z"
            << "*" + grin + "?" + grin2 + "*" << true << true;
        QTest::newRow("piece starting with a pair") << "x" + grin + "y" + grin + "z"
                                                    << "*" + grin + "z" << true << true;
        QTest::newRow("lone surrogate is not half a pair")
            << grin << grin.left(1) + "*" << false << false;
        QTest::newRow("lone surrogate in the text is one character")
            << "a" + grin.left(1) << "a?" << true << true;
        QTest::newRow("last piece may not overlap the first") << "aba"
                                                              << "ab*ba" << false << false;
        QTest::newRow("pieces may not share text") << "abcab"
                                                   << "abc*cab" << false << false;
        QTest::newRow("middle pieces may not share text") << "abab"
                                                          << "*aba*bab*" << false << false;
        QTest::newRow("repeated letters and question marks") << "aaaaaaab"
                                                             << "a?a?a?b" << false << true;
        QTest::newRow("repeated letters, no end") << "aaaaaaaa"
                                                  << "a?a?a?b" << false << false;
        QTest::newRow("later start of a repeated piece") << "xaxbxaxb"
                                                         << "*x?xb" << true << true;
        QTest::newRow("piece longer than 64 characters")
            << QString(70, u'a') + "b"
            << "*" + QString("a?").repeated(35) + "b" << true << true;
        QTest::newRow("piece longer than 64 characters, no end")
            << QString(71, u'a') << "*" + QString("a?").repeated(35) + "b" << false << false;
        QTest::newRow("piece longer than 64 characters in a part")
            << "x" + QString(70, u'a') + "bx" << QString("a?").repeated(35) + "b" << false << true;
        QTest::newRow("soft hyphen in the text") << "vi\u00ADagra"
                                                 << "viagra" << true << true;
        QTest::newRow("zero-width characters in the pattern")
            << "viagra"
            << "vi\u200Bag\u2060ra\uFEFF" << true << true;
        QTest::newRow("rarer ignorable code points in the text")
            << QString::fromUtf16(u"v\u061Ci\u115Fa\u17B4g\u180Er\u3164a\uFFA0\U000E0041")
            << "viagra" << true << true;
        QTest::newRow("their neighbours are text")
            << QString::fromUtf16(u"v\u061Bi\u17B6agra") << "viagra" << false << false;
        QTest::newRow("sharp s against SS") << "GROSSE"
                                            << "große" << true << true;
        QTest::newRow("SS against capital sharp s") << "GROẞE"
                                                    << "grosse" << true << true;
        QTest::newRow("question mark takes a sharp s") << "große"
                                                       << "gro?e" << true << true;
        QTest::newRow("question mark takes one s as well") << "grose"
                                                           << "gro?e" << true << true;
        QTest::newRow("a last piece that ends on a sharp s") << "xgroße"
                                                             << "*gro?e" << true << true;
        QTest::newRow("a last piece that ends on marks") << "yzq\u0303\u0323"
                                                         << "*z?" << true << true;
        QTest::newRow("decomposed accent against a composed one") << "cafe\u0301"
                                                                  << "café" << true << true;
        QTest::newRow("question mark takes a letter with its marks") << "q\u0303\u0323x"
                                                                     << "??" << true << true;
        QTest::newRow("a mark is no character of its own") << "q\u0303x"
                                                           << "???" << false << false;
        QTest::newRow("full-width letters") << "ＶＩＡＧＲＡ"
                                            << "viagra" << true << true;
        QTest::newRow("dotted capital I") << "İSTANBUL"
                                          << "istanbul" << true << true;
        QTest::newRow("dotless i") << "vıagra"
                                   << "VIAGRA" << true << true;
        QTest::newRow("a full-width question mark is itself") << "whyx"
                                                              << "why？" << false << false;
        QTest::newRow("a full-width question mark against a plain one") << "why?"
                                                                        << "why？" << true << true;
    }
    void wildcards()
    {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        QFETCH(bool, whole);
        QFETCH(bool, part);
        const QString folded = foldedForMatching(text, Blanks::Keep);
        QCOMPARE(WildcardPattern(pattern).matchesWhole(folded), whole);
        QCOMPARE(WildcardPattern(pattern).matchesPart(folded), part);
    }

    void patternsWithoutLetterOrDigitAreIgnored_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("ignored");
        QTest::newRow("star") << "*" << true;
        QTest::newRow("wildcards only") << "**?*" << true;
        QTest::newRow("any address") << "*@*" << true;
        QTest::newRow("any address with a dot") << "*@*.*" << true;
        QTest::newRow("any non-empty address") << "?*@?*" << true;
        QTest::newRow("punctuation") << "*-*!*" << true;
        QTest::newRow("emoji is no letter") << QString::fromUtf8("*\xF0\x9F\x98\x80*") << true;
        QTest::newRow("a letter") << "*a*" << false;
        QTest::newRow("a digit") << "*@*7*" << false;
        QTest::newRow("a Polish letter") << QString::fromUtf8("*\xC5\xBC*") << false;
        QTest::newRow("an Arabic-Indic digit") << QString::fromUtf8("*\xD9\xA3*") << false;
        QTest::newRow("a letter beyond the BMP")
            << QString::fromUtf8("*\xF0\x9D\x90\x80*") << false;
    }
    void patternsWithoutLetterOrDigitAreIgnored()
    {
        QFETCH(QString, pattern);
        QFETCH(bool, ignored);
        QList<std::pair<QString, MonitorSettings>> lists(4);
        lists[0].first = QStringLiteral("MailFilter");
        lists[0].second.senderPatterns = {pattern};
        lists[1].first = QStringLiteral("SubjectFilter");
        lists[1].second.subjectPatterns = {pattern};
        lists[2].first = QStringLiteral("ContentFilter");
        lists[2].second.contentPatterns = {pattern};
        lists[3].first = QStringLiteral("Attachments");
        lists[3].second.attachmentPatterns = {{pattern, false, 0, 0}};
        const auto facts =
            factsFrom({QStringLiteral("a-b!c@d.e7")}, QStringLiteral("a-b!c@d.e7"),
                      QStringLiteral("a-b!c@d.e7"), {{QStringLiteral("a-b!c@d.e7"), 1}});
        for (const auto &[list, settings] : lists) {
            const Rules rules(settings);
            QCOMPARE(rules.isEmpty(), ignored);
            QCOMPARE(rules.warnings().size(), ignored ? 1 : 0);
            if (ignored) {
                QVERIFY(rules.warnings().first().startsWith(list));
                QVERIFY(rules.warnings().first().contains(pattern));
                QVERIFY(!rules.match(facts));
            }
        }
        // With a size range the pattern only adds to the range, which is a rule of its own.
        MonitorSettings ranged;
        ranged.attachmentPatterns = {{pattern, true, 1, 10}};
        const Rules rules(ranged);
        QVERIFY(!rules.isEmpty());
        QVERIFY(rules.warnings().isEmpty());
    }

    void senderPatternMatchesAWholeAddressWithoutRegardToCase()
    {
        MonitorSettings settings;
        settings.senderPatterns = {QStringLiteral("*@SPAM.example")};
        const Rules rules(settings);
        QVERIFY(!rules.needsWholeMessage());
        const auto match = rules.match(factsFrom({QStringLiteral("Boss@Spam.Example")}));
        QVERIFY(match);
        QCOMPARE(match->list, QStringLiteral("MailFilter"));
        QCOMPARE(match->pattern, QStringLiteral("*@SPAM.example"));
        QVERIFY(!rules.match(factsFrom({QStringLiteral("boss@spam.example.org")})));
        // Any mailbox of From counts.
        QVERIFY(rules.match(
            factsFrom({QStringLiteral("friend@ok.example"), QStringLiteral("x@spam.example")})));
    }

    void subjectAndContentPatternsMatchAPartWithUnicodeCase()
    {
        MonitorSettings settings;
        settings.subjectPatterns = {QStringLiteral("ŻÓŁW")};
        settings.contentPatterns = {QStringLiteral("GRÖSSE")};
        const Rules rules(settings);
        QVERIFY(rules.needsWholeMessage());
        QCOMPARE(rules.match(factsFrom({}, QStringLiteral("Mój żółw ucieka")))->list,
                 QStringLiteral("SubjectFilter"));
        QCOMPARE(rules.match(factsFrom({}, {}, QStringLiteral("die größe ist grösse")))->list,
                 QStringLiteral("ContentFilter"));
        QVERIFY(!rules.match(factsFrom({}, QStringLiteral("zolw"), QStringLiteral("grosse"))));
    }

    void attachmentSizesAreKilobytesRoundedUp_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<bool>("inOneKb");
        QTest::addColumn<bool>("inTwoKb");
        QTest::newRow("1023") << qint64(1023) << true << false;
        QTest::newRow("1024") << qint64(1024) << true << false;
        QTest::newRow("1025") << qint64(1025) << false << true;
        QTest::newRow("0") << qint64(0) << false << false;
    }
    void attachmentSizesAreKilobytesRoundedUp()
    {
        QFETCH(qint64, bytes);
        QFETCH(bool, inOneKb);
        QFETCH(bool, inTwoKb);
        MonitorSettings one;
        one.attachmentPatterns = {{QStringLiteral("*.zip"), true, 1, 1}};
        MonitorSettings two;
        two.attachmentPatterns = {{QStringLiteral("*.ZIP"), true, 2, 2}};
        const auto facts = factsFrom({}, {}, {}, {{QStringLiteral("offer.zip"), bytes}});
        QCOMPARE(bool(Rules(one).match(facts)), inOneKb);
        QCOMPARE(bool(Rules(two).match(facts)), inTwoKb);
    }

    void attachmentNameMustMatchWhole()
    {
        MonitorSettings settings;
        settings.attachmentPatterns = {{QStringLiteral("*.exe"), false, 0, 0}};
        const Rules rules(settings);
        QVERIFY(rules.match(factsFrom({}, {}, {}, {{QStringLiteral("Invoice.EXE"), 10}})));
        QVERIFY(!rules.match(factsFrom({}, {}, {}, {{QStringLiteral("invoice.exe.txt"), 10}})));
        QVERIFY(!rules.match(factsFrom({}, {}, {}, {})));
    }

    void rulesThatWouldMatchEverythingAreLeftOutWithAWarning()
    {
        MonitorSettings settings;
        settings.senderPatterns = {QStringLiteral("*")};
        settings.subjectPatterns = {QStringLiteral("**")};
        settings.contentPatterns = {QStringLiteral("*?")};
        settings.attachmentPatterns = {{QStringLiteral("*"), false, 0, 0},
                                       {QStringLiteral("big.*"), true, 10, 5}};
        const Rules rules(settings);
        QVERIFY(rules.isEmpty());
        QCOMPARE(rules.warnings().size(), 5);
        QVERIFY(rules.warnings().last().contains(QStringLiteral("reversed")));
        QVERIFY(!rules.match(factsFrom({QStringLiteral("a@b.c")}, QStringLiteral("x"),
                                       QStringLiteral("y"), {{QStringLiteral("big.bin"), 7000}})));
    }

    void aStarWithASizeRangeIsASoundRule()
    {
        MonitorSettings settings;
        settings.attachmentPatterns = {{QStringLiteral("*"), true, 5000, 100000}};
        const Rules rules(settings);
        QVERIFY(rules.warnings().isEmpty());
        QVERIFY(rules.match(factsFrom({}, {}, {}, {{QStringLiteral("x"), 6000 * 1024}})));
        QVERIFY(!rules.match(factsFrom({}, {}, {}, {{QStringLiteral("x"), 10 * 1024}})));
    }

    void aMessageThatCannotBeJudgedNeverMatches()
    {
        MonitorSettings settings;
        settings.senderPatterns = {QStringLiteral("a@b.c")};
        MessageFacts facts = factsFrom({QStringLiteral("a@b.c")});
        facts.judgeable = false;
        QVERIFY(!Rules(settings).match(facts));
    }

    void fingerprintFollowsTheRulesInForce()
    {
        MonitorSettings a;
        a.senderPatterns = {QStringLiteral("x@y.z"), QStringLiteral("p@q.r")};
        MonitorSettings sameOtherOrder;
        sameOtherOrder.senderPatterns = {QStringLiteral("P@Q.R"), QStringLiteral("x@y.z")};
        MonitorSettings moved;
        moved.subjectPatterns = a.senderPatterns;
        MonitorSettings ranged;
        ranged.attachmentPatterns = {{QStringLiteral("*.zip"), true, 1, 2}};
        MonitorSettings otherRange;
        otherRange.attachmentPatterns = {{QStringLiteral("*.zip"), true, 1, 3}};
        QCOMPARE(Rules(a).fingerprint(), Rules(sameOtherOrder).fingerprint());
        QVERIFY(Rules(a).fingerprint() != Rules(moved).fingerprint());
        QVERIFY(Rules(ranged).fingerprint() != Rules(otherRange).fingerprint());
    }

    void serverAddresses_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ssl");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("security");
        const int plain = int(Security::PlainOrStartTls);
        const int stls = int(Security::StartTlsRequired);
        const int tls = int(Security::ImplicitTls);
        QTest::newRow("host") << QByteArray("pop.example.com") << false << true << "pop.example.com"
                              << 110 << plain;
        QTest::newRow("host with ssl")
            << QByteArray("pop.example.com") << true << true << "pop.example.com" << 995 << tls;
        QTest::newRow("port 110 with ssl asks for STLS")
            << QByteArray("pop.example.com:110") << true << true << "pop.example.com" << 110
            << stls;
        QTest::newRow("port 995 is TLS") << QByteArray("pop.example.com:995") << false << true
                                         << "pop.example.com" << 995 << tls;
        QTest::newRow("other port with ssl")
            << QByteArray("h:1995") << true << true << "h" << 1995 << tls;
        QTest::newRow("v6 with port")
            << QByteArray("[::1]:1110") << false << true << "::1" << 1110 << plain;
        QTest::newRow("bare v6") << QByteArray("fe80::1") << false << true << "fe80::1" << 110
                                 << plain;
        QTest::newRow("blanks around")
            << QByteArray("  h  ") << false << true << "h" << 110 << plain;
        QTest::newRow("empty") << QByteArray("") << false << false << "" << 0 << 0;
        QTest::newRow("port 0") << QByteArray("h:0") << false << false << "" << 0 << 0;
        QTest::newRow("port too large") << QByteArray("h:65536") << false << false << "" << 0 << 0;
        QTest::newRow("port not a number") << QByteArray("h:pop") << false << false << "" << 0 << 0;
        QTest::newRow("unclosed bracket")
            << QByteArray("[::1:110") << false << false << "" << 0 << 0;
        QTest::newRow("a blank inside")
            << QByteArray("pop example.com") << false << false << "" << 0 << 0;
    }
    void serverAddresses()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ssl);
        QFETCH(bool, valid);
        const auto address = parseServerAddress(text, ssl);
        QCOMPARE(address.has_value(), valid);
        if (!valid)
            return;
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(int, security);
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
        QCOMPARE(int(address->security), security);
    }
};

QTEST_GUILESS_MAIN(TestMailRules)
#include "tst_mailrules.moc"
