#include "shared/file_name_text.h"

#include <QByteArray>
#include <QFile>

QString fileNameText(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}
