// A short name for a phone, from its browser's User-Agent line, for the owner's list of paired
// phones: "iPhone Safari", "Pixel 8 Chrome". The line is anyone's text: the name keeps at most a
// few letters, digits and plain punctuation of it, so that it never reads as markup or spoofs
// another line of the list.
#pragma once

#include <QByteArray>
#include <QString>

QString PhoneDeviceName(const QByteArray &userAgent);
