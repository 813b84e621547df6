#pragma once

#include <QByteArray>
#include <QString>

// File names on this system are bytes, not text: a name need not be valid
// UTF-8. These carry such a name through QString and back unchanged, the way
// the names pass from the command line to the file the player opens. A byte
// that is not part of valid UTF-8 becomes a lone surrogate U+DC80..U+DCFF
// (which valid text never holds) and turns back into that byte.
namespace path_bytes {

QString Decode(const QByteArray& bytes);
QByteArray Encode(const QString& text);

}  // namespace path_bytes
