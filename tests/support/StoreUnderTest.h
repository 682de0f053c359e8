#pragma once

#include "store/Store.h"

#include <QByteArray>
#include <QList>

#include <memory>
#include <optional>

// The store this build's programs use, fresh for one test: a new store file in a temporary
// folder, or on Windows the registry with "\Software\Zel Software" and the autorun value removed
// before and after (tests that use it must not run at the same time in one Wine prefix, and
// write nowhere else). The reads go straight to where the
// tree is kept, past the program's own store code.
class StoreUnderTest
{
public:
    StoreUnderTest();
    ~StoreUnderTest();
    StoreUnderTest(const StoreUnderTest &) = delete;
    StoreUnderTest &operator=(const StoreUnderTest &) = delete;

    store::Store &store();

    std::optional<store::RawValue> value(const QByteArray &keyPath, const QByteArray &name) const;
    QList<QByteArray> subkeys(const QByteArray &keyPath) const;
    bool keyExists(const QByteArray &keyPath) const;

private:
    struct State;
    std::unique_ptr<State> m;
};
