#include "TestSystem.h"
#include "store/Des.h"
#include "store/DesBlock.h"
#include "store/PasswordCipher.h"

#include <QTest>

class TestDes : public QObject
{
    Q_OBJECT

private:
    static QByteArray blockHex(const char *keyHex, const char *inputHex, des::Pc2 variant,
                               bool decrypt = false)
    {
        const QByteArray key = QByteArray::fromHex(keyHex);
        const QByteArray input = QByteArray::fromHex(inputHex);
        const des::KeySchedule schedule(
            des::loadBlock(reinterpret_cast<const unsigned char *>(key.constData())), variant);
        const quint64 in =
            des::loadBlock(reinterpret_cast<const unsigned char *>(input.constData()));
        const quint64 out =
            decrypt ? des::decryptBlock(schedule, in) : des::encryptBlock(schedule, in);
        QByteArray result(8, '\0');
        des::storeBlock(out, reinterpret_cast<unsigned char *>(result.data()));
        return result.toHex().toUpper();
    }

private slots:
    // The same block function with the published PC-2 must be DES. Vectors: FIPS 81 appendix B
    // ("Now is t"), the textbook key 133457799BBCDFF1, and NIST SP 800-17 known-answer tables
    // (variable plaintext, variable key, permutation and S-box tests).
    void publishedDesVectors_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        QTest::newRow("FIPS 81") << QByteArray("0123456789ABCDEF") << QByteArray("4E6F772069732074")
                                 << QByteArray("3FA40E8A984D4815");
        QTest::newRow("textbook") << QByteArray("133457799BBCDFF1")
                                  << QByteArray("0123456789ABCDEF")
                                  << QByteArray("85E813540F0AB405");
        QTest::newRow("VPT 1") << QByteArray("0101010101010101") << QByteArray("8000000000000000")
                               << QByteArray("95F8A5E5DD31D900");
        QTest::newRow("VPT 2") << QByteArray("0101010101010101") << QByteArray("4000000000000000")
                               << QByteArray("DD7F121CA5015619");
        QTest::newRow("VPT 3") << QByteArray("0101010101010101") << QByteArray("2000000000000000")
                               << QByteArray("2E8653104F3834EA");
        QTest::newRow("VKT 1") << QByteArray("8001010101010101") << QByteArray("0000000000000000")
                               << QByteArray("95A8D72813DAA94D");
        QTest::newRow("VKT 2") << QByteArray("4001010101010101") << QByteArray("0000000000000000")
                               << QByteArray("0EEC1487DD8C26D5");
        QTest::newRow("permutation")
            << QByteArray("1046913489980131") << QByteArray("0000000000000000")
            << QByteArray("88D55E54F54C97B4");
        QTest::newRow("S-box") << QByteArray("7CA110454A1A6E57") << QByteArray("01A1D6D039776742")
                               << QByteArray("690F5B0D9A26939B");
    }
    void publishedDesVectors()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        QCOMPARE(blockHex(key, plain, des::Pc2::Published), cipher);
        QCOMPARE(blockHex(key, cipher, des::Pc2::Published, true), plain);
    }

    // Stored passwords, computed independently by a bit-by-bit transcription of FIPS 46-3 in
    // Python with PC-2 entry 12 set to 19 (checked first against the FIPS 81 vector above).
    void storedPasswordsMatchTheVariant_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("short") << QByteArray("secret") << QByteArray("BF278FCB2315CABE");
        QTest::newRow("one block") << QByteArray("password") << QByteArray("68E90128EFC02545");
        QTest::newRow("two blocks")
            << QByteArray("pass word 123") << QByteArray("4073E6EF058E6393C0C462BEBBEB51F2");
        QTest::newRow("blanks") << QByteArray(" padded ") << QByteArray("393F7931C00F249B");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("100") << QByteArray(100, 'A')
                             << QByteArray("87A783C6DB87228B").repeated(12) + "6E8A436CA5383478";
    }
    void storedPasswordsMatchTheVariant()
    {
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, stored);
        QCOMPARE(store::EncryptPassword(plain), stored);
        QCOMPARE(store::DecryptPassword(stored), plain);
        QCOMPARE(store::DecryptPassword(stored.toLower()), plain);
    }

    void theVariantDiffersFromDes()
    {
        QVERIFY(blockHex("133457799BBCDFF1", "0123456789ABCDEF", des::Pc2::Ostrove)
                != QByteArray("85E813540F0AB405"));
    }

    void roundTripsForEveryLength()
    {
        for (int length = 0; length <= 120; ++length) {
            QByteArray plain;
            for (int i = 0; i < length; ++i)
                plain.append(char(0x21 + (i * 7 + length) % 94));
            const QByteArray stored = store::EncryptPassword(plain);
            QCOMPARE(stored.size(), 16 * ((length + 7) / 8));
            QCOMPARE(store::DecryptPassword(stored), plain);
        }
    }

    // Opening an account and pressing OK must not change a password with blanks at its ends.
    void blanksAtTheEndsSurviveDecryptThenEncrypt()
    {
        const QByteArray plain("  two blanks each side  ");
        const QByteArray stored = store::EncryptPassword(plain);
        QCOMPARE(store::DecryptPassword(stored), plain);
        QCOMPARE(store::EncryptPassword(store::DecryptPassword(stored)), stored);
        QCOMPARE(store::DecryptPassword(store::EncryptPassword("\ttab")), QByteArray("\ttab"));
    }

    void blockEdgesAndPadding()
    {
        TEncryption cipher;
        cipher.setKey("k");
        cipher.setInput("12345678");
        cipher.Execute();
        QCOMPARE(cipher.HexOutput().size(), 16);
        cipher.setInput("123456789");
        cipher.Execute();
        QCOMPARE(cipher.Output().size(), 16);

        TEncryption back;
        back.setKey("k");
        back.setAction(TActionType::Decryption);
        back.setInput(cipher.Output());
        back.Execute();
        QCOMPARE(back.Output(), QByteArray("123456789\0\0\0\0\0\0\0", 16));

        cipher.setInput(QByteArray());
        cipher.Execute();
        QVERIFY(cipher.Output().isEmpty());
        QVERIFY(cipher.HexOutput().isEmpty());
    }

    void keyPaddingAndLowestBits()
    {
        const auto run = [](const QByteArray &key) {
            TEncryption cipher;
            cipher.setKey(key);
            cipher.setInput("some text");
            cipher.Execute();
            return cipher.HexOutput();
        };
        QCOMPARE(run("QZ"), run(QByteArray("QZ\0\0\0\0\0\0", 8)));
        // 'P' is 'Q' without its lowest bit, '[' is 'Z' with it: PC-1 drops those bits.
        QCOMPARE(run("QZ"), run("P["));
        QVERIFY(run("QZ") != run("RZ"));
    }

    void emptyKeyTakesTheDefault()
    {
        TEncryption cipher;
        cipher.setInput("x");
        cipher.Execute();
        QCOMPARE(cipher.Key(), QByteArray(TEncryption::kDefaultKey));
        QCOMPARE(cipher.Key().size(), 8);
    }

    void lengthLimitsAreRefusedWithTheirMessage()
    {
        RecordingPrompts prompts;
        TEncryption cipher(&prompts);
        cipher.setInput(QByteArray(127, 'a'));
        QCOMPARE(cipher.Input().size(), 127);
        cipher.setInput(QByteArray(128, 'b'));
        QCOMPARE(cipher.Input(), QByteArray(127, 'a'));
        cipher.setKey("12345678");
        cipher.setKey("123456789");
        QCOMPARE(cipher.Key(), QByteArray("12345678"));
        cipher.setHexInput(QByteArray(254, '0'));
        QCOMPARE(cipher.Input(), QByteArray(127, '\0'));
        cipher.setHexInput(QByteArray(255, '1'));
        QCOMPARE(cipher.HexInput(), QByteArray(254, '0'));
        QCOMPARE(prompts.texts(), (QStringList{"Input String Length Must Less 127 Character.",
                                               "Key String Length Must Less 9 Character.",
                                               "HexInput String Length Must Less 255 Character."}));
        for (const platform::Prompt &prompt : prompts.shown) {
            QCOMPARE(prompt.caption, QStringLiteral("Information"));
            QCOMPARE(prompt.icon, platform::Prompt::Icon::Information);
        }
        // The password methods never fail: a password the component refuses is stored empty.
        QCOMPARE(store::EncryptPassword(QByteArray(128, 'p'), &prompts), QByteArray());
    }

    void hexDecoding()
    {
        TEncryption cipher;
        cipher.setHexInput("41a2F");
        QCOMPARE(cipher.Input(), QByteArray("\x41\xA2"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, cipher.setHexInput("41 2"));
        QCOMPARE(cipher.HexInput(), QByteArray("41 2")); // the text is kept, the bytes are not
        QCOMPARE(cipher.Input(), QByteArray("\x41\xA2"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, cipher.setHexOutput("-1"));

        QCOMPARE(store::DecryptPassword("BF278FCB2315CAGE"), QByteArray());
        QCOMPARE(store::DecryptPassword("BF278FCB2315CABE+"), QByteArray("secret"));
        // Cut to 255 characters, which the component refuses: an empty password, and the message.
        RecordingPrompts prompts;
        QCOMPARE(store::DecryptPassword(QByteArray(300, 'F'), &prompts), QByteArray());
        QCOMPARE(prompts.texts(), QStringList{"HexInput String Length Must Less 255 Character."});
    }
};

QTEST_GUILESS_MAIN(TestDes)
#include "tst_des.moc"
