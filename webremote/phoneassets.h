// What a phone's home screen asks for beside the pages: the web app manifest and the icons drawn
// at build time from the program's icon, the same for everyone and served without a session;
// and the open track's picture, which the player page shows to a session.
#pragma once

#include <QByteArray>
#include <QStringView>

#include <optional>

// The answer for a manifest or icon path ("/m/manifest.webmanifest", "/m/icon-192.png", ...);
// nullopt for any other path.
std::optional<QByteArray> PhoneAssetResponse(QStringView path);

// The answer carrying a track's picture, typed by its first bytes; empty when it is no JPEG or
// PNG, or larger than kelpa::MaxPictureBytes, which then goes out nowhere.
QByteArray PhonePictureResponse(const QByteArray &picture);
