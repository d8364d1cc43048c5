#include "desktop/desktop_session.h"

#include <QDBusError>
#include <cstdio>

#include "app/form1.h"
#include "desktop/mpris_service.h"
#include "desktop/player_handover.h"

namespace {
void sayOnStandardError(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}
}  // namespace

DesktopSession::DesktopSession(QDBusConnection sessionBus) : session(std::move(sessionBus)) {}

DesktopSession::Start DesktopSession::start(const std::string& path) {
    if (!session.isConnected()) {
        sayOnStandardError(
            QStringLiteral("No D-Bus session bus (%1): no media keys, sound menus or single "
                           "instance.")
                .arg(session.lastError().message()));
        return Start::AsThePlayer;
    }
    if (session.registerService(MprisService::kServiceName)) {
        ownsName = true;
        return Start::AsThePlayer;
    }
    const QString error = handOverToRunningPlayer(session, path);
    if (error.isEmpty()) return Start::HandedOver;
    sayOnStandardError(
        QStringLiteral("The running player did not take over (%1); starting another, without "
                       "media keys or sound menus.")
            .arg(error));
    return Start::AsThePlayer;
}

void DesktopSession::attach(Form1& form) {
    if (!ownsName) return;
    auto* mpris = new MprisService(form.remote(), session, &form);
    if (!mpris->publish())
        sayOnStandardError(QStringLiteral("MPRIS could not be put on the session bus: %1")
                               .arg(session.lastError().message()));
}
