#pragma once

#include "platform/UserPrompts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <memory>
#include <optional>

namespace store {

// Registry value types, numbered as the Windows registry numbers them.
enum ValueType : int
{
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiSz = 7,
};

// A value exactly as the store keeps it, for tools that move whole trees.
struct RawValue
{
    QByteArray name;
    int type = 0;
    QByteArray data;
};

// A key opened inside one registry access. A key that could be neither opened nor created is
// "not open": its enumerations and existence tests find nothing, its string reads give empty
// text, and every write, deletion or integer read fails with StoreError.
class RegistryKey
{
public:
    virtual ~RegistryKey() = default;

    virtual bool isOpen() const = 0;
    // Fails unless the key is open and may be written.
    virtual void requireWritable() const = 0;

    virtual void writeString(const QByteArray &name, const QByteArray &text) = 0;
    virtual QByteArray readString(QByteArrayView name) = 0;
    virtual void writeInteger(const QByteArray &name, qint32 value) = 0;
    virtual qint32 readInteger(QByteArrayView name) = 0;
    void writeBool(const QByteArray &name, bool flag) { writeInteger(name, flag ? 1 : 0); }
    bool readBool(QByteArrayView name) { return readInteger(name) != 0; }
    virtual bool valueExists(QByteArrayView name) = 0;
    virtual void deleteValue(const QByteArray &name) = 0;
    virtual void deleteKey(const QByteArray &name) = 0;
    virtual QList<QByteArray> subkeyNames() = 0;
    virtual QList<QByteArray> valueNames() = 0;

    // Any type with its bytes unchanged; names and limits as for the typed writes.
    virtual void writeRaw(const QByteArray &name, int type, const QByteArray &data) = 0;
    virtual std::optional<RawValue> readRaw(const QByteArray &name) = 0;
    // Every value with its stored name, in enumeration order; nothing when not open.
    virtual QList<RawValue> rawValues() = 0;
    // The subkey names as subkeyNames() gives them, without reading their values ahead, for
    // callers that read each subkey's values their own way.
    virtual QList<QByteArray> subkeyNamesOnly() = 0;
};

// One registry access. Everything done through it is one transaction, so a reader never sees
// half of it; finish() makes what was written durable, also after a failed step.
class Access
{
public:
    virtual ~Access() = default;

    // Opens the key at an absolute path below HKEY_LOCAL_MACHINE, creating missing keys. Never
    // fails by itself: a key that cannot be had comes back not open.
    virtual std::unique_ptr<RegistryKey> openOrCreate(const QByteArray &path) = 0;
    // The same without creating anything: a missing key comes back not open.
    virtual std::unique_ptr<RegistryKey> openExisting(const QByteArray &path) = 0;

    virtual void finish() = 0;
    // Drops everything written in this access instead of keeping it, for changes that must
    // apply whole or not at all. Finishing afterwards does nothing.
    virtual void abandon() = 0;
};

// The settings tree shared with the monitor.
class Store
{
public:
    virtual ~Store() = default;

    // Starts an access; inside a running access it starts a nested one that sees the outer
    // one's writes. Throws StoreError when the store cannot be used at all.
    virtual std::unique_ptr<Access> beginAccess() = 0;

    // Messages that came up while accesses to this store ran, waiting for the last of them to
    // end (see MessageHold).
    struct HeldMessages
    {
        int holds = 0;
        QList<platform::Prompt> prompts;
    };
    HeldMessages &heldMessages() { return m_heldMessages; }

private:
    HeldMessages m_heldMessages;
};

} // namespace store
