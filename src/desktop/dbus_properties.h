#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QList>
#include <QMetaProperty>
#include <QString>
#include <QVariantMap>
#include <functional>

// org.freedesktop.DBus.Properties for the other adaptors of one object, in place of Qt's own:
// Qt converts a value of the wrong type to the property's (the string "0.5" sets a double) or
// answers InternalError when it cannot, where D-Bus names InvalidArgs.
class DbusProperties : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.Properties")
    // Qt lists this interface in every introspection already.
    Q_CLASSINFO("D-Bus Introspection", "")
public:
    // Whether a value of the property's own type is one it takes; others are InvalidArgs.
    using Check = std::function<bool(const QString& property, const QVariant& value)>;

    DbusProperties(QObject* object, QDBusConnection bus, Check accepts);

public slots:
    QDBusVariant Get(const QString& interface, const QString& name, const QDBusMessage& message);
    QVariantMap GetAll(const QString& interface, const QDBusMessage& message);
    void Set(const QString& interface, const QString& name, const QDBusVariant& value,
             const QDBusMessage& message);

private:
    struct Found {
        QObject* adaptor = nullptr;
        QMetaProperty property;
    };
    // The property, or an error already sent in answer to `message`.
    Found find(const QString& interface, const QString& name, const QDBusMessage& message);
    // The other adaptors of the object with that interface; all of them for "".
    QList<QObject*> adaptorsOf(const QString& interface) const;
    void refuse(const QDBusMessage& message, QDBusError::ErrorType type, const QString& text);
    void refuseInterface(const QDBusMessage& message, const QString& interface);

    QDBusConnection bus;
    Check accepts;
};
