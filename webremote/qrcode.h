// A QR code as a picture a phone's camera reads off the screen: black modules of whole pixels
// on white, with the four-module quiet zone around them that readers need to find the code.
#pragma once

#include <QByteArray>
#include <QImage>

// The code of text (byte mode, error correction level M) with the largest whole number of
// pixels per module that keeps its side within maxSide (at least one pixel per module); a null
// image when the text does not fit any QR code.
QImage QrCodeImage(const QByteArray &text, int maxSide);
