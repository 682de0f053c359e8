#pragma once

#include "store/SqliteStore.h"

#include <QString>
#include <QStringList>

namespace tray {

// The few settings the tray program writes itself: the senders whose mail is never removed, and
// how long removed mail is kept. Each call is one store access; a failure throws StoreError.
// Made by the windows that change them, each with the store's path.
class TraySettings
{
public:
    explicit TraySettings(const QString &storePath);

    QStringList allowedSenders();
    void allowSender(const QString &pattern);
    void forgetAllowedSender(const QString &pattern);

    int keepRemovedDays();
    int keepRemovedMegabytes();
    void setKeepRemovedDays(int days);
    void setKeepRemovedMegabytes(int megabytes);

    // The ranges the monitor reads them in.
    static constexpr int kMaxKeepDays = 3650;
    static constexpr int kMaxKeepMegabytes = 1000000;

private:
    int readNumber(const char *name, int fallback, int highest);
    void writeNumber(const char *name, int value);

    store::SqliteStore m_store;
};

// Why a pattern cannot be an allowed sender, or empty when it can.
QString allowedSenderProblem(const QString &pattern);
// The address alone ("deals@spam.example") of a sender as a person reads it
// ("Promo <deals@spam.example>"), or empty when it names none.
QString senderAddress(const QString &sender);

inline constexpr int kMaxAllowedSenderLength = 100;

} // namespace tray
