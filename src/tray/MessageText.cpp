#include "tray/MessageText.h"

#include "mail/GMimeSupport.h"
#include "mail/PartText.h"

#include <mutex>

namespace tray {

namespace {

void collectPart(GMimeObject *, GMimeObject *object, gpointer data)
{
    auto *text = static_cast<MessageText *>(data);
    if (!GMIME_IS_PART(object))
        return;
    GMimePart *part = GMIME_PART(object);
    GMimeContentType *type = g_mime_object_get_content_type(object);
    const bool attachment = g_mime_part_get_filename(part) != nullptr;
    if (!attachment && g_mime_content_type_is_type(type, "text", "plain")) {
        if (const std::optional<QString> decoded = mail::partText(part))
            text->texts.append(*decoded);
        else
            text->notShown.append(QStringLiteral("a text part that cannot be read"));
    } else if (!attachment && g_mime_content_type_is_type(type, "text", "html")) {
        text->notShown.append(QStringLiteral("an HTML part (not shown: it may load content "
                                             "from elsewhere)"));
    }
}

} // namespace

MessageText readMessageText(const QByteArray &message)
{
    MessageText text;
    qsizetype end = message.indexOf("\r\n\r\n");
    if (end < 0)
        end = message.indexOf("\n\n");
    text.header = QString::fromUtf8(end < 0 ? message : message.left(end));

    mail::ensureGMime();
    std::lock_guard lock(mail::gmimeMutex());
    mail::GOwned<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(message.constData(), size_t(message.size())));
    mail::GOwned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    mail::GOwned<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!parsed) {
        text.notShown.append(QStringLiteral("the message cannot be read"));
        return text;
    }
    g_mime_message_foreach(parsed.get(), collectPart, &text);
    return text;
}

} // namespace tray
