#include "desktop/dbus_properties.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QMetaClassInfo>

namespace {

QString interfaceOf(const QObject* adaptor) {
    const QMetaObject* meta = adaptor->metaObject();
    const int index = meta->indexOfClassInfo("D-Bus Interface");
    return index < 0 ? QString() : QString::fromLatin1(meta->classInfo(index).value());
}

// The properties an adaptor declares itself (not QObject's objectName), by index.
int firstOwnProperty() {
    return QDBusAbstractAdaptor::staticMetaObject.propertyCount();
}

QByteArray signatureOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qvariant_cast<QDBusArgument>(value).currentSignature().toLatin1();
    const char* signature = QDBusMetaType::typeToSignature(value.metaType());
    return signature ? QByteArray(signature) : QByteArray();
}

}  // namespace

DbusProperties::DbusProperties(QObject* object, QDBusConnection bus, Check accepts)
    : QDBusAbstractAdaptor(object), bus(std::move(bus)), accepts(std::move(accepts)) {}

QList<QObject*> DbusProperties::adaptorsOf(const QString& interface) const {
    QList<QObject*> found;
    for (QObject* child : parent()->children())
        if (child != this && qobject_cast<QDBusAbstractAdaptor*>(child) &&
            (interface.isEmpty() || interfaceOf(child) == interface))
            found << child;
    return found;
}

DbusProperties::Found DbusProperties::find(const QString& interface, const QString& name,
                                           const QDBusMessage& message) {
    const QList<QObject*> adaptors = adaptorsOf(interface);
    if (adaptors.isEmpty()) {
        refuseInterface(message, interface);
        return {};
    }
    const QByteArray wanted = name.toUtf8();
    for (QObject* adaptor : adaptors) {
        const int index = adaptor->metaObject()->indexOfProperty(wanted.constData());
        if (index >= firstOwnProperty()) return {adaptor, adaptor->metaObject()->property(index)};
    }
    refuse(message, QDBusError::UnknownProperty,
           QStringLiteral("Property %1 was not found in object %2").arg(name, message.path()));
    return {};
}

QDBusVariant DbusProperties::Get(const QString& interface, const QString& name,
                                 const QDBusMessage& message) {
    const Found found = find(interface, name, message);
    if (!found.adaptor) return {};
    return QDBusVariant(found.property.read(found.adaptor));
}

QVariantMap DbusProperties::GetAll(const QString& interface, const QDBusMessage& message) {
    QVariantMap all;
    const QList<QObject*> adaptors = adaptorsOf(interface);
    if (adaptors.isEmpty()) refuseInterface(message, interface);
    for (QObject* adaptor : adaptors) {
        const QMetaObject* meta = adaptor->metaObject();
        for (int i = firstOwnProperty(); i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            if (property.isReadable() && QDBusMetaType::typeToSignature(property.metaType()))
                all.insert(QString::fromLatin1(property.name()), property.read(adaptor));
        }
    }
    return all;
}

void DbusProperties::Set(const QString& interface, const QString& name, const QDBusVariant& value,
                         const QDBusMessage& message) {
    const Found found = find(interface, name, message);
    if (!found.adaptor) return;
    if (!found.property.isWritable()) {
        refuse(message, QDBusError::PropertyReadOnly,
               QStringLiteral("Property %1 is read-only").arg(name));
        return;
    }
    const QVariant given = value.variant();
    // The type on the wire must be the property's own: no conversions.
    if (signatureOf(given) != QDBusMetaType::typeToSignature(found.property.metaType()) ||
        (accepts && !accepts(name, given)) || !found.property.write(found.adaptor, given)) {
        refuse(message, QDBusError::InvalidArgs,
               QStringLiteral("Property %1 does not take the value given (type %2)")
                   .arg(name, QString::fromLatin1(signatureOf(given))));
    }
}

void DbusProperties::refuseInterface(const QDBusMessage& message, const QString& interface) {
    refuse(
        message, QDBusError::UnknownInterface,
        QStringLiteral("Interface %1 was not found in object %2").arg(interface, message.path()));
}

void DbusProperties::refuse(const QDBusMessage& message, QDBusError::ErrorType type,
                            const QString& text) {
    message.setDelayedReply(true);
    bus.send(message.createErrorReply(type, text));
}
