#include "MailTestSupport.h"
#include "mail/MessageFacts.h"
#include "mail/Rules.h"

#include <QTest>

using namespace mail;

// Each crafted message of tests/mail/data against the patterns that must and must not match
// it, through the same reading and rules the monitor uses.
class TestCraftedMail : public QObject
{
    Q_OBJECT

private:
    enum List
    {
        Sender,
        Subject,
        Content,
        Attachment,
    };

    static void row(const char *file, List list, const QString &pattern, bool matches, int from = 0,
                    int to = -1)
    {
        addRow(file, list, pattern, matches, false, from, to);
    }

    // Kept because nothing matched in what could be read, while some part could not be.
    static void keptUnread(const char *file, List list, const QString &pattern, int from = 0,
                           int to = -1)
    {
        addRow(file, list, pattern, false, true, from, to);
    }

    static void addRow(const char *file, List list, const QString &pattern, bool matches,
                       bool unread, int from, int to)
    {
        const QString name =
            QStringLiteral("%1 %2 \"%3\"%4")
                .arg(QLatin1String(file))
                .arg(QLatin1String(list == Sender    ? "MailFilter"
                                   : list == Subject ? "SubjectFilter"
                                   : list == Content ? "ContentFilter"
                                                     : "Attachments"),
                     pattern, to >= 0 ? QStringLiteral(" %1..%2 kB").arg(from).arg(to) : QString());
        QTest::newRow(qPrintable(name))
            << QString::fromLatin1(file) << int(list) << pattern << matches << unread << from << to;
    }

private slots:
    void decisions_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("list");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::addColumn<bool>("unread");
        QTest::addColumn<int>("sizeFrom");
        QTest::addColumn<int>("sizeTo");

        row("sender-plain.eml", Sender, "offers@cheap-watches.example", true);
        row("sender-plain.eml", Sender, "*@cheap-watches.example", true);
        row("sender-plain.eml", Sender, "offers@cheap-watches", false);
        row("sender-display-name.eml", Sender, "john.doe@sales.example", true);
        row("sender-display-name.eml", Sender, "Doe*", false);
        row("sender-display-name.eml", Sender, "*(Sales)*", false);
        row("sender-display-name.eml", Sender, "*Sales*", true); // the domain, not the name
        row("sender-name-looks-like-address.eml", Sender, "phisher@evil.example", true);
        row("sender-name-looks-like-address.eml", Sender, "billing@bank.example", false);
        row("sender-several.eml", Sender, "king@spam.example", true);
        row("sender-several.eml", Sender, "alice@friends.example", true);
        row("sender-encoded-name.eml", Sender, "lukasz.zolc@poczta.example", true);
        row("sender-encoded-name.eml", Sender, "Łukasz*", false);
        row("sender-encoded-name.eml", Subject, "w piątek", true);
        row("sender-encoded-name-with-address.eml", Sender, "promo@offers.example", true);
        row("sender-encoded-name-with-address.eml", Sender, "info@bank.example", false);
        row("sender-uppercase-domain.eml", Sender, "news@promo.example.com", true);
        row("sender-uppercase-domain.eml", Sender, "*@promo.example.com", true);
        row("sender-missing.eml", Sender, "*@*", false);
        row("sender-missing.eml", Subject, "No sender", true);
        row("subject-utf8-base64.eml", Subject, "zniżki", true);
        row("subject-utf8-base64.eml", Subject, "90% na", true);
        row("subject-utf8-quoted-printable.eml", Subject, "günstige uhren", true);
        row("subject-utf8-quoted-printable.eml", Subject, "FÜR", true);
        row("subject-iso-8859-2.eml", Subject, "pożyczki", true);
        row("subject-iso-8859-2.eml", Subject, "po?yczki", true);
        row("subject-iso-8859-2.eml", Subject, "poyczki", false);
        row("subject-folded.eml", Subject, "account has been selected", true);
        row("subject-folded.eml", Subject, "selected for a special", true); // a tab is a blank
        row("subject-folded-encoded.eml", Subject, "wygrałeś nagrodę", true);
        row("subject-folded-encoded.eml", Subject, "wygrałeś  nagrodę", false);
        row("subject-split-word.eml", Subject, "recepty", true);
        row("subject-split-word.eml", Subject, "bez recepty – tanio", true);
        row("subject-split-multibyte.eml", Subject, "pożyczki", true);
        row("subject-mixed-case-letters.eml", Subject, "wyprzedaż", true);
        row("subject-mixed-case-letters.eml", Subject, "żółte okulary", true);
        row("subject-mixed-case-letters.eml", Subject, "große rabatte", true);
        row("subject-mixed-case-letters.eml", Subject, "Überraschung", true);
        row("subject-mixed-case-letters.eml", Subject, "grosse", true); // full folding: ẞ is ss
        row("body-plain.eml", Content, "tanie zegarki", true);
        row("body-plain.eml", Content, "ZAŻÓŁĆ", true);
        row("body-quoted-printable.eml", Content, "viagra", true);
        row("body-quoted-printable.eml", Content, "żadnych opłat", true);
        row("body-quoted-printable.eml", Content, "vi=", false);
        row("body-base64.eml", Content, "bitcoin doubler", true);
        row("body-base64.eml", Content, "gwarancja zysku", true);
        row("body-html-only.eml", Content, "viagra", true);
        row("body-html-only.eml", Content, "café", true);
        row("body-html-only.eml", Content, "cheap viagra", true);
        row("body-html-only.eml", Content, "café & more", true);
        for (const char *hidden : {"casino", "lottery", "roulette", "jackpot", "&eacute;", "<b>"})
            row("body-html-only.eml", Content, QString::fromLatin1(hidden), false);
        row("body-multipart-alternative.eml", Content, "meteorite", true);
        row("body-multipart-alternative.eml", Content, "asteroid", true);
        row("body-multipart-alternative.eml", Content, "<b>asteroid", false);
        row("body-word-in-attachment.eml", Content, "giveaway", false);
        row("body-word-in-attachment.eml", Attachment, "notes.txt", true);
        row("body-word-in-attachment.eml", Attachment, "notes.txt", true, 1, 1);
        row("attachment-name-in-disposition.eml", Attachment, "*.exe", true);
        row("attachment-name-in-disposition.eml", Attachment, "invoice-2026.pdf.exe", true);
        row("attachment-name-in-disposition.eml", Attachment, "*.pdf", false);
        row("attachment-name-in-content-type.eml", Attachment, "setup.exe", true);
        row("attachment-name-in-content-type.eml", Attachment, "*.EXE", true);
        row("attachment-rfc2231-continuation.eml", Attachment, "rachunek za żółtą lampę.pdf", true);
        row("attachment-rfc2231-continuation.eml", Attachment, "*lampę.pdf", true);
        row("attachment-rfc2231-continuation.eml", Attachment, "*%C5*", false);
        row("attachment-rfc2231-latin1.eml", Attachment, "köln pläne.zip", true);
        row("attachment-rfc2231-latin1.eml", Attachment, "*.zip", true);
        row("attachment-encoded-word-name.eml", Attachment, "*.scr", true);
        row("attachment-encoded-word-name.eml", Attachment, "zdjęcie*", true);
        row("attachment-encoded-word-name.eml", Attachment, "=?UTF-8?B?*", false);
        row("attachment-no-extension.eml", Attachment, "README", true);
        row("attachment-no-extension.eml", Attachment, "read*", true);
        row("attachment-no-extension.eml", Attachment, "*.*", false);
        row("attachment-no-extension.eml", Attachment, "*", false); // ignored without a range
        row("attachment-no-extension.eml", Attachment, "*", true, 1, 1);
        row("attachment-in-attached-message.eml", Attachment, "payload.scr", true);
        row("attachment-in-attached-message.eml", Sender, "friend@forward.example", true);
        row("attachment-in-attached-message.eml", Sender, "scam@lottery.example", false);
        row("attachment-in-attached-message.eml", Subject, "lottery", false);
        // Without a file name the attached message is not an attachment: its text is read.
        row("attachment-in-attached-message.eml", Content, "unclaimed prize", true);
        row("attachment-size-1023.eml", Attachment, "*.bin", true, 1, 1);
        row("attachment-size-1023.eml", Attachment, "*.bin", false, 2, 5);
        row("attachment-size-1024.eml", Attachment, "*.bin", true, 1, 1);
        row("attachment-size-1024.eml", Attachment, "*.bin", false, 2, 5);
        row("attachment-size-1025.eml", Attachment, "*.bin", true, 2, 2);
        row("attachment-size-1025.eml", Attachment, "*.bin", false, 1, 1);
        row("attachment-size-1025.eml", Attachment, "*.bin", false, 2, 1); // reversed range
        row("damaged-truncated.eml", Sender, "accounts@overdue.example", true);
        row("damaged-truncated.eml", Subject, "overdue payment", true);
        row("damaged-truncated.eml", Content, "payment is overdue", true);
        row("damaged-truncated.eml", Attachment, "statement.zip", true);
        keptUnread("damaged-truncated.eml", Attachment, "statement.zip", 0, 100000);
        keptUnread("damaged-truncated.eml", Content, "paid in full");
        row("damaged-missing-closing-boundary.eml", Attachment, "report.doc", true);
        row("damaged-missing-closing-boundary.eml", Content, "monthly report", true);
        keptUnread("damaged-bad-base64.eml", Content, "cheap watches");
        row("damaged-bad-base64.eml", Sender, "watches@replica.example", true);
        row("damaged-bad-base64.eml", Subject, "replica watches", true);
        row("damaged-8bit-subject.eml", Subject, "rabatte", true);
        row("damaged-8bit-subject.eml", Subject, "große rabatte", true);
        row("damaged-8bit-subject.eml", Sender, "rabatt@laden.example", true);
        row("empty-body.eml", Content, "*a*", false);
        row("empty-body.eml", Subject, "nothing inside", true);
        row("damaged-junk-part-beside-attachment.eml", Attachment, "evil.exe", true);
        row("damaged-junk-part-beside-attachment.eml", Attachment, "*.exe", true, 1, 1);
        row("damaged-junk-part-beside-attachment.eml", Content, "attached installer", true);
        keptUnread("damaged-junk-part-beside-attachment.eml", Content, "lottery");
        row("damaged-base64-with-footer.eml", Attachment, "invoice.zip", true);
        row("damaged-base64-with-footer.eml", Content, "invoice for november", true);
        keptUnread("damaged-base64-with-footer.eml", Attachment, "invoice.zip", 0, 100000);
        keptUnread("damaged-base64-with-footer.eml", Attachment, "*", 1, 100000);
        keptUnread("damaged-base64-with-footer.eml", Content, "mailgate");
        row("body-type-without-subtype.eml", Content, "garden furniture", true);
        row("body-type-garbage.eml", Content, "crypto airdrop", true);
        row("body-type-garbage.eml", Content, "hello from the team", true);
        row("body-forward-as-whole-body.eml", Content, "inheritance funds", true);
        row("body-forward-as-whole-body.eml", Sender, "barrister@estate.example", false);
        row("body-forward-as-whole-body.eml", Sender, "colleague@forward.example", true);
        row("body-forward-as-whole-body.eml", Subject, "inheritance claim", false);
        row("body-digest.eml", Content, "tulip bulbs", true);
        row("body-digest.eml", Content, "repotting orchids", true);
        row("body-digest.eml", Content, "<b>", false);
        row("body-digest.eml", Sender, "anna@garden-club.example", false);
        row("sender-encoded-name-special.eml", Sender, "deals@outlet.example", true);
        row("sender-encoded-name-special.eml", Sender, "*sale*", false);
        row("subject-bad-q-escape.eml", Subject, "andré=zz café", true);
        row("subject-bad-q-escape.eml", Content, "café price=zz", true);
        row("attachment-external-body.eml", Attachment, "big.iso", true);
        row("attachment-external-body.eml", Attachment, "big.iso", false, 1, 1);
        row("attachment-external-body.eml", Attachment, "*.iso", false, 0, 100000);
        keptUnread("damaged-nested-too-deep.eml", Content, "deeply hidden");
        row("header-many-fields.eml", Content, "winning ticket number", true);
        row("header-many-fields.eml", Subject, "quarterly lottery draw", true);
        row("header-many-fields.eml", Sender, "draw@lottery.example", true);
        row("invisible-characters.eml", Subject, "viagra", true);
        row("invisible-characters.eml", Subject, "vi\u200Bagra", true);
        row("invisible-characters.eml", Content, "casino", true);
        row("invisible-characters.eml", Content, "lottery", true);
        row("invisible-characters.eml", Content, "jackpot", true);
        row("invisible-characters.eml", Content, "roulette", true);
        row("invisible-characters.eml", Content, "bonus", true);
        row("invisible-characters.eml", Content, "prescription", true);
        row("invisible-characters.eml", Attachment, "*.exe", true);
        row("body-html-split-words.eml", Content, "viagra", true);
        row("body-html-split-words.eml", Content, "casino", true);
        row("body-html-split-words.eml", Content, "lottery", true);
        row("body-html-split-words.eml", Content, "jackpot", true);
        row("body-html-split-words.eml", Content, "roulette", true);
        for (const char *joined : {"alphaomega", "northsouth", "leftright", "onetwo"})
            row("body-html-split-words.eml", Content, QString::fromLatin1(joined), false);
        row("subject-case-and-form.eml", Subject, "free istanbul", true);
        row("subject-case-and-form.eml", Subject, "große preise", true);
        row("subject-case-and-form.eml", Subject, "gro?e preise", true);
        row("subject-case-and-form.eml", Subject, "café noir", true);
        row("subject-case-and-form.eml", Subject, "caf? noir", true);
        row("subject-case-and-form.eml", Content, "straße", true);
        row("subject-case-and-form.eml", Content, "glück", true);
        row("subject-case-and-form.eml", Content, "finance", true);
        row("subject-case-and-form.eml", Content, "kız kulesi", true);
        row("attachment-trailing-dot.eml", Attachment, "*.exe", true);
        row("attachment-trailing-dot.eml", Attachment, "*.scr", true);
        row("attachment-uuencoded.eml", Attachment, "tool.exe", true);
        row("attachment-uuencoded.eml", Attachment, "*.exe", true, 1, 1);
        row("attachment-uuencoded.eml", Attachment, "*.exe", false, 2, 5);
        row("attachment-uuencoded.eml", Content, "tool is attached", true);
        row("attachment-uuencoded.eml", Content, "regards, bob", true);
        row("attachment-uuencoded.eml", Content, "begin 644", false);
        row("damaged-uuencoded-cut.eml", Attachment, "tool.exe", true);
        keptUnread("damaged-uuencoded-cut.eml", Attachment, "*.exe", 0, 100);
        row("body-base64-with-footer.eml", Content, "crypto airdrop", true);
        row("body-base64-with-footer.eml", Content, "mailgate", false);
    }

    void decisions()
    {
        QFETCH(QString, file);
        QFETCH(int, list);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QFETCH(bool, unread);
        QFETCH(int, sizeFrom);
        QFETCH(int, sizeTo);
        MonitorSettings settings;
        switch (List(list)) {
        case Sender:
            settings.senderPatterns = {pattern};
            break;
        case Subject:
            settings.subjectPatterns = {pattern};
            break;
        case Content:
            settings.contentPatterns = {pattern};
            break;
        case Attachment:
            settings.attachmentPatterns = {{pattern, sizeTo >= 0, sizeFrom, sizeTo}};
            break;
        }
        const Rules rules(settings);
        const QByteArray message = testMessage(file);
        const MessageFacts facts = readMessageFacts(message, rules.needsWholeMessage());
        QVERIFY2(facts.judgeable, qPrintable(facts.problem));
        const Verdict verdict = judgeMessage(facts, rules);
        const std::optional<RuleMatch> &match = verdict.removeBy;
        QVERIFY2(
            match.has_value() == matches,
            qPrintable(QStringLiteral("senders %1, subject \"%2\", text \"%3\", %4 attachments, "
                                      "body problem \"%5\"")
                           .arg(facts.senders.join(u','), facts.subject, facts.bodyText.left(200))
                           .arg(facts.attachments.size())
                           .arg(facts.bodyProblem)));
        if (match)
            QCOMPARE(match->pattern, pattern);
        else
            QCOMPARE(!verdict.keptBecause.isEmpty(), unread); // what the log says of a kept one
        // Reading only the header, as for sender and subject rules, gives the same sender and
        // subject as reading the whole message.
        const MessageFacts header = readMessageFacts(message, false);
        const MessageFacts whole = readMessageFacts(message, true);
        QCOMPARE(header.senders, whole.senders);
        QCOMPARE(header.subject, whole.subject);
    }

    void damagedPartsAreNamedInTheReason()
    {
        const MessageFacts facts =
            readMessageFacts(testMessage(QStringLiteral("damaged-truncated.eml")), true);
        QCOMPARE(facts.bodyProblem,
                 QStringLiteral("the attachment \"statement.zip\" cannot be decoded"));
        const MessageFacts bad =
            readMessageFacts(testMessage(QStringLiteral("damaged-bad-base64.eml")), true);
        QCOMPARE(bad.bodyProblem, QStringLiteral("a part cannot be decoded"));
        const MessageFacts sound = readMessageFacts(
            testMessage(QStringLiteral("damaged-missing-closing-boundary.eml")), true);
        QVERIFY(sound.bodyProblem.isEmpty());
        // Only a fragment of a larger message: not read, and the reason says why.
        const MessageFacts fragment =
            readMessageFacts("From: a@b.c\r\nMIME-Version: 1.0\r\nContent-Type: message/partial; "
                             "id=\"p@x\"; number=1; total=2\r\n\r\nSubject: hidden\r\n\r\n",
                             true);
        QCOMPARE(fragment.bodyProblem, QStringLiteral("it is only a fragment of a larger message"));
    }
};

QTEST_GUILESS_MAIN(TestCraftedMail)
#include "tst_craftedmail.moc"
