#include "app/uri_drop.h"

#include <QByteArray>
#include <QMimeData>

#include "shared/file_uri.h"

std::optional<std::string> droppedPath(const QMimeData& data) {
    const QByteArray list = data.data(QStringLiteral("text/uri-list"));
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();  // lines end in CR LF
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (auto path = pathOfFileUri(std::string_view(line.constData(), size_t(line.size()))))
            return path;
    }
    return std::nullopt;
}
