// Typed readers of the user defaults and the process-wide objects made on first use.
//
// The defaults live in QSettings (organisation and application "Quasel"). No defaults table
// is registered: every reader is given its default at the place where the setting is read.
#pragma once

#include <QColor>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <mutex>

class QSettings;

// The user-defaults store. Safe to use from any thread.
class UserDefaults {
  public:
    // The stored array under `key`, or `def` when absent or not an array.
    QVariantList defaultsArray(const QString& key, const QVariantList& def) const;
    // The stored value's Boolean reading, or `def` when absent or unreadable.
    bool defaultsBool(const QString& key, bool def) const;
    // The stored value's floating reading, or `def` when absent or unreadable.
    double defaultsDouble(const QString& key, double def) const;
    // The stored value's integer reading, or `def` when absent or unreadable.
    int64_t defaultsInteger(const QString& key, int64_t def) const;

    // The stored value, or an invalid QVariant when absent. An array comes back as a
    // QVariantList, empty or not, with its numbers as numbers, also in the next process.
    QVariant objectForKey(const QString& key) const;
    void setObject(const QString& key, const QVariant& value);
    // Sets a value for this process only, in front of the stored ones and never written to
    // the store (the platform's argument domain); an invalid value removes it.
    void setVolatileObject(const QString& key, const QVariant& value);
    void removeObject(const QString& key);
    void synchronize();

    UserDefaults();
    ~UserDefaults();

  private:
    mutable std::mutex mutex_;          // QSettings objects are not shared across threads
    std::unique_ptr<QSettings> store_;  // the persistent store
    QVariantMap volatile_;              // values of this process only, consulted first
};

// The application's information: what the bundle's information dictionary holds.
struct Bundle {
    QString name;           // "Quasel"
    QString version;        // version text
    QString buildNumber;    // "CFBundleVersion": the build number compiled into the program
    QString updateBaseUrl;  // base address of the download site; empty when there is none
};

UserDefaults& userDefaults();
const Bundle& mainBundle();
QColor greenColor();
QColor blueColor();
QColor redColor();
