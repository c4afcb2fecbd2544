#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>

// Raised by TRegistry reads and writes with the texts the settings code shows:
// "Failed to get data for '%s'", "Invalid data type for '%s'", "Failed to set data for '%s'".
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// A typed emulation of HKEY_CURRENT_USER kept in one REGEDIT4 text file.
// Keys are given relative to HKEY_CURRENT_USER, with or without a leading
// backslash ("\Software\Tolv\KIVO\IP\1.0\JUXRegs"); key names match without
// regard to case, as the registry's do.
class TRegistry {
public:
    // The file is $KIVO_REGISTRY, else $XDG_CONFIG_HOME/kivo-ip/registry.reg.
    static QString defaultPath();
    // What keeps the file from being used, for a person: the line and what is
    // wrong in one that cannot be parsed, or that it cannot be read; empty
    // when it can be used (or is not there). Such a file is never moved, and
    // no write goes over it.
    static QString fileProblem(const QString& path = defaultPath());

    explicit TRegistry(QString filePath = defaultPath());
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Opens a key; false when it does not exist and canCreate is false, when it
    // cannot be created, or when the file cannot be read or parsed. Re-reads the file. A
    // key without a leading backslash is below the key that is open.
    bool OpenKey(const QString& key, bool canCreate);
    void CloseKey();
    bool KeyExists(const QString& key);
    bool ValueExists(const QString& name) const;

    // Reads raise ERegistryException: absent value "Failed to get data for '%s'",
    // wrong type "Invalid data type for '%s'". ReadString of an absent value is "";
    // it also reads REG_SZ and REG_EXPAND_SZ stored in hex form.
    int ReadInteger(const QString& name) const;           // REG_DWORD
    bool ReadBool(const QString& name) const;             // REG_DWORD, any value but 0 is true
    QString ReadString(const QString& name) const;        // REG_SZ
    QByteArray ReadBinaryData(const QString& name) const; // REG_BINARY
    double ReadDateTime(const QString& name) const; // REG_BINARY of 8 bytes, little-endian double

    // Writes go to the file at once (atomically); a failure raises
    // "Failed to set data for '%s'".
    void WriteInteger(const QString& name, int value);
    void WriteBool(const QString& name, bool value);
    void WriteString(const QString& name, const QString& value);
    void WriteBinaryData(const QString& name, const QByteArray& value);
    void WriteDateTime(const QString& name, double value);

    // Writes between BeginUpdate and EndUpdate change a copy of the file read
    // at the first of them, and EndUpdate saves that copy in one atomic
    // rewrite: a group of values is on disk all together or not at all, never
    // in part. A value that cannot be written still raises at once (a key not
    // open, a file that cannot be read), and a save that fails raises "Failed
    // to set data for '%s'" with the group's first value, since none of the
    // group reached the disk; the values after it are not written either.
    // Reads see the written values only after EndUpdate. CloseKey, OpenKey and
    // the destructor drop a group that was never ended.
    void BeginUpdate();
    void EndUpdate();

private:
    struct Impl;
    Impl* d;
};
