#pragma once

#include <QString>

class CRegister;
class OutputFile;

// The WMA dialog's three persisted values: the texts of its profile and format boxes, and the
// profile index (0..10) of its up-down.
struct WmaSettings {
    QString ProfileText;
    QString FormatText;
    qint16 StoredProfileIndex = 5;

    static constexpr int MaxProfile = 10;

    static WmaSettings load(const CRegister& store);
    void save(const CRegister& store) const;
    static bool anyStored(const CRegister& store);

    // The stored index, or 5 when it is outside 0..10 (edited by hand).
    int profile() const;

    bool operator==(const WmaSettings&) const = default;
};

// Hands the stored profile to the output-file object.
bool applyWmaSettings(OutputFile& file, const WmaSettings& settings);
