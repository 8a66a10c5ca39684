#pragma once

#include "settings/cregister.h"
#include "settings/mainsettings.h"

#include <QString>

#include <span>
#include <variant>

// One persisted value of a settings record: its name in the store, its default as stored text,
// and the record's member that holds it. Numbers are stored as decimal text and held as 16-bit
// integers; a text field marked storedAsNumber is written through a 16-bit integer (" 05"
// is stored as "5"). Each record lists its fields once, in load and save order.
template <typename Record> struct StoredField {
    const char* name;
    const char* defaultText;
    std::variant<QString Record::*, qint16 Record::*> member;
    bool storedAsNumber = false;
};

namespace storedfields
{

// A stored text that is not a 16-bit number (edited by hand, say) reads as the default.
inline qint16 toNumber(const QString& text, const char* defaultText)
{
    bool ok = false;
    const qint16 value = text.trimmed().toShort(&ok);
    return ok ? value : QString::fromLatin1(defaultText).toShort();
}

template <typename Record>
void load(Record& record, const CRegister& store, std::span<const StoredField<Record>> fields)
{
    for (const StoredField<Record>& field : fields) {
        const QString text =
            store.REGGetSetting(RegRoot::LocalMachine, SettingsPath, QLatin1String(field.name),
                                QString::fromLatin1(field.defaultText));
        if (const auto* number = std::get_if<qint16 Record::*>(&field.member))
            record.*(*number) = toNumber(text, field.defaultText);
        else
            record.*std::get<QString Record::*>(field.member) = text;
    }
}

template <typename Record>
void save(const Record& record, const CRegister& store, std::span<const StoredField<Record>> fields)
{
    for (const StoredField<Record>& field : fields) {
        QString text;
        if (const auto* number = std::get_if<qint16 Record::*>(&field.member))
            text = QString::number(record.*(*number));
        else if (field.storedAsNumber)
            text = QString::number(
                toNumber(record.*std::get<QString Record::*>(field.member), field.defaultText));
        else
            text = record.*std::get<QString Record::*>(field.member);
        store.REGSaveSetting(RegRoot::LocalMachine, SettingsPath, QLatin1String(field.name), text);
    }
}

// Whether the store holds any of the fields (a value holding no characters counts as absent).
template <typename Record>
bool anyStored(const CRegister& store, std::span<const StoredField<Record>> fields)
{
    for (const StoredField<Record>& field : fields) {
        if (!store
                 .REGGetSetting(RegRoot::LocalMachine, SettingsPath, QLatin1String(field.name),
                                QString())
                 .isEmpty())
            return true;
    }
    return false;
}

} // namespace storedfields
