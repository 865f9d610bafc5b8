#pragma once

#include "settings/password_keyring.h"

#include <QMap>
#include <QSet>
#include <QStringList>

namespace taskhaul {

// A keyring in memory that records every call ("status", "read Password",
// "write Proxypassword", "remove Password") and fails on request.
class FakeKeyring final : public PasswordKeyring {
public:
    Status state = Status::Available;
    QMap<QString, QString> entries;
    QSet<QString> failingReads;
    QSet<QString> failingWrites;
    QSet<QString> failingRemovals;
    QStringList calls;

    Status status() override
    {
        calls << QStringLiteral("status");
        return state;
    }

    std::optional<QString> read(const QString& key) override
    {
        calls << QStringLiteral("read ") + key;
        if (state != Status::Available || failingReads.contains(key))
            return fail();
        return entries.value(key);
    }

    bool write(const QString& key, const QString& value) override
    {
        calls << QStringLiteral("write ") + key;
        if (state != Status::Available || failingWrites.contains(key))
            return fail().has_value();
        entries.insert(key, value);
        return true;
    }

    bool remove(const QString& key) override
    {
        calls << QStringLiteral("remove ") + key;
        if (state != Status::Available || failingRemovals.contains(key))
            return fail().has_value();
        entries.remove(key);
        return true;
    }

    // What lastError() gives; a keyring may fail without giving a reason.
    QString error = QStringLiteral("refused by the test");

    QString lastError() const override { return error; }

    // The calls other than status queries.
    QStringList accesses() const
    {
        QStringList result = calls;
        result.removeAll(QStringLiteral("status"));
        return result;
    }

private:
    static std::optional<QString> fail() { return std::nullopt; }
};

} // namespace taskhaul
