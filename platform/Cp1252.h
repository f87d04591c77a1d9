#pragma once
// Windows-1252, the code page of the settings file and of the databases' text.

#include <QByteArray>
#include <QString>

namespace vz {

QString DecodeCp1252(const QByteArray& bytes);
// Characters that Windows-1252 cannot hold become '?'.
QByteArray EncodeCp1252(const QString& text);

}  // namespace vz
