// Damaged mail of every kind through the message reader: it gives facts or a reason, never a
// crash or a hang, and the rules can be applied to whatever it gives.
#include "mail/MessageFacts.h"
#include "mail/Rules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), qsizetype(size));
    static const mail::Rules rules = [] {
        mail::MonitorSettings settings;
        settings.senderPatterns = {QStringLiteral("*@spam.example")};
        settings.subjectPatterns = {QStringLiteral("v?agra")};
        settings.contentPatterns = {QStringLiteral("cheap*pills")};
        settings.attachmentPatterns = {{QStringLiteral("*.exe"), false, 0, 0},
                                       {QStringLiteral("*"), true, 1, 100}};
        return mail::Rules(settings);
    }();
    for (bool withBody : {false, true}) {
        const mail::MessageFacts facts = mail::readMessageFacts(message, withBody);
        if (!facts.judgeable && facts.problem.isEmpty())
            std::abort();
        for (const mail::AttachmentFact &attachment : facts.attachments) {
            if (attachment.decodedBytes < -1) // -1: unknown size
                std::abort();
        }
        (void)rules.match(facts);
    }
    return 0;
}
