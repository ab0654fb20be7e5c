#include "Settings.h"

#include "QuaselConfig.h"

#include <QCoreApplication>
#include <QSettings>

UserDefaults::UserDefaults() : store_(std::make_unique<QSettings>("Quasel", "Quasel")) {}
UserDefaults::~UserDefaults() = default;

// A number written into an array by the settings file, or the text itself when it is none.
static QVariant numberOrText(const QString& text) {
    bool ok = false;
    const qlonglong integer = text.toLongLong(&ok);
    if (ok) return integer;
    const double real = text.toDouble(&ok);
    return ok ? QVariant(real) : QVariant(text);
}

QVariant UserDefaults::objectForKey(const QString& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = volatile_.constFind(key);
    if (it != volatile_.constEnd()) return *it;
    // The settings file writes an empty array as an invalid value and the elements of a longer
    // one as texts; what the next process reads back must still be the array of numbers.
    const QVariant v = store_->value(key);
    if (!v.isValid()) return store_->contains(key) ? QVariant(QVariantList()) : QVariant();
    if (v.typeId() != QMetaType::QStringList) return v;
    QVariantList array;
    for (const QString& element : v.toStringList())
        array.append(numberOrText(element));
    return array;
}

void UserDefaults::setVolatileObject(const QString& key, const QVariant& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (value.isValid())
        volatile_.insert(key, value);
    else
        volatile_.remove(key);
}

void UserDefaults::setObject(const QString& key, const QVariant& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_->setValue(key, value);
}

void UserDefaults::removeObject(const QString& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_->remove(key);
}

void UserDefaults::synchronize() {
    std::lock_guard<std::mutex> lock(mutex_);
    store_->sync();
}

QVariantList UserDefaults::defaultsArray(const QString& key, const QVariantList& def) const {
    QVariant v = objectForKey(key);
    if (!v.isValid()) return def;
    if (v.canConvert<QVariantList>() && v.typeId() != QMetaType::QString) return v.toList();
    return def;
}

// QSettings stores numbers written by an INI file as strings; read them the way the
// platform's number parsing does: a Boolean is true for "true"/"yes" or a non-zero number.
static bool readBool(const QVariant& v, bool def) {
    switch (v.typeId()) {
        case QMetaType::Bool:
            return v.toBool();
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Float:
            return v.toDouble() != 0.0;
        case QMetaType::QString: {
            QString s = v.toString().trimmed().toLower();
            if (s.startsWith("y") || s.startsWith("t")) return true;
            bool ok = false;
            double d = s.toDouble(&ok);
            if (ok) return d != 0.0;
            return s.toLongLong() != 0;
        }
        default:
            return def;
    }
}

bool UserDefaults::defaultsBool(const QString& key, bool def) const {
    QVariant v = objectForKey(key);
    if (!v.isValid()) return def;
    return readBool(v, def);
}

double UserDefaults::defaultsDouble(const QString& key, double def) const {
    QVariant v = objectForKey(key);
    if (!v.isValid()) return def;
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? 1.0 : 0.0;
    bool ok = false;
    double d = v.toDouble(&ok);
    return ok ? d : def;
}

int64_t UserDefaults::defaultsInteger(const QString& key, int64_t def) const {
    QVariant v = objectForKey(key);
    if (!v.isValid()) return def;
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? 1 : 0;
    bool ok = false;
    double d = v.toDouble(&ok);  // "12.7" reads as 12, like an integer reading of a number
    if (!ok) return def;
    if (d >= 9.2e18 || d <= -9.2e18) return def;
    return int64_t(d);
}

UserDefaults& userDefaults() {
    static UserDefaults defaults;
    return defaults;
}

const Bundle& mainBundle() {
    static const Bundle bundle{"Quasel", QUASEL_VERSION, QUASEL_BUILD_NUMBER,
                               QUASEL_UPDATE_BASE_URL};
    return bundle;
}

// The system colours of the platform the viewer was designed on.
QColor greenColor() {
    return QColor(52, 199, 89);
}
QColor blueColor() {
    return QColor(0, 122, 255);
}
QColor redColor() {
    return QColor(255, 59, 48);
}
