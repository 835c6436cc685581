#pragma once

#include "logs/DebugTrace.h"
#include "settings/ProfileFile.h"

#include <QString>

#include <functional>
#include <memory>

// Reads at most this many characters of a stored value, as the profile
// functions Tarvex was written against did.
inline constexpr int MaxSettingLength = 254;

// The settings file Tarvex.ini, section "Settings". Every read goes to the
// file and every change is stored at once, one key at a time. Copies share
// one queue of changes, so there is only ever one writer of the file.
class Settings final
{
public:
    Settings(QString settingsPath, QString debugLogPath);

    // Creates the file from its template when there is none; an existing file,
    // even an empty one, is left alone. Returns false when it could not be made.
    bool CheckforInIfile() const;

    // The stored text, or `defaultValue` when it is missing or empty. A
    // change still queued for the writer counts as stored.
    QString GetSettings(const QString& Key, const QString& defaultValue) const;
    // The whole stored text, for lists that may be longer than MaxSettingLength.
    QString GetLongSetting(const QString& Key) const;

    // Switch false stores the setting; Switch true writes a debug entry
    // instead and leaves the settings file alone.
    bool SaveSettings(const QString& Key, const QString& Setting, bool Switch) const;

    // From now on a change is queued and `request` is called (at most once
    // until writePending() runs), so the owner can write it on another
    // thread: a synced replacement of the file must not stall the window.
    // An empty function makes every change a synchronous write again.
    void setWriteRequest(std::function<void()> request) const;
    // Writes every queued change in one replacement of the file. When that
    // fails the file stays as it was and the changes stay queued for the
    // next try; `error` says why.
    bool writePending(QString* error = nullptr) const;
    bool hasPending() const;

    static QString templateText();

    const QString& path() const;
    const DebugTrace& trace() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

// The version as the settings file keeps it: a blank before the major number,
// as a number-to-text conversion writes it.
QString versionText();

namespace SettingKey {
inline const QString EmailAddress = QStringLiteral("CorvaneEmailAddress");
inline const QString Callsign = QStringLiteral("CorvaneCallsign");
inline const QString Password = QStringLiteral("CorvanePassword");
inline const QString TotalUploaded = QStringLiteral("TotalRecordsUploaded");
inline const QString AutoUpload = QStringLiteral("AutoUploadEnabled");
inline const QString Port = QStringLiteral("UDPPort");
inline const QString Debug = QStringLiteral("Debug");
inline const QString Version = QStringLiteral("Version");
// Optional keys that the template leaves out: where the log service and the
// update check live when not at their built-in hosts.
inline const QString ServiceHost = QStringLiteral("CorvaneHost");
inline const QString UpdateHost = QStringLiteral("UpdateHost");
// Optional: who may send contacts (addresses, networks or "any"; the station's
// own networks when empty), and the host:port list every datagram is relayed to.
inline const QString AllowedSenders = QStringLiteral("AllowedSenders");
inline const QString RelayTo = QStringLiteral("RelayTo");
} // namespace SettingKey
