#include "desktop/player_handover.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>
#include <filesystem>

#include "components/absolute_path.h"
#include "desktop/mpris_service.h"
#include "shared/file_uri.h"

namespace {

constexpr int kReplyTimeoutMs = 5000;
// A player that has just taken the name may not have put its object on the bus yet.
constexpr int kStartingPlayerWaitMs = 10000;

Handover callRunningPlayer(QDBusConnection& bus, const char* interface, const char* method,
                           const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        MprisService::kServiceName, MprisService::kObjectPath, interface, method);
    call.setArguments(arguments);
    const QDeadlineTimer deadline(kStartingPlayerWaitMs);
    for (;;) {
        const QDBusMessage reply = bus.call(call, QDBus::Block, kReplyTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage) return {};
        const QDBusError::ErrorType error = QDBusError(reply).type();
        const bool notReadyYet = error == QDBusError::UnknownObject ||
                                 error == QDBusError::UnknownInterface ||
                                 error == QDBusError::UnknownMethod;
        if (!notReadyYet || deadline.hasExpired())
            return {QStringLiteral("%1: %2").arg(reply.errorName(), reply.errorMessage()),
                    error == QDBusError::NoReply || error == QDBusError::Timeout};
        QThread::msleep(50);
    }
}

}  // namespace

Handover handOverToRunningPlayer(QDBusConnection& bus, const std::string& path) {
    if (!path.empty()) {
        // The running player has a current directory of its own.
        const std::string full = absoluteOrAsGiven(path);
        Handover handover = callRunningPlayer(bus, "org.mpris.MediaPlayer2.Player", "OpenUri",
                                              {QString::fromLatin1(fileUriOf(full))});
        if (!handover.error.isEmpty()) return handover;
    }
    return callRunningPlayer(bus, "org.mpris.MediaPlayer2", "Raise", {});
}
