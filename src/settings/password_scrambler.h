#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace taskhaul {

// The two passwords are kept in the store neither plain nor hashed but passed
// through a keyed byte-stream transformation. It only keeps them from being read
// at a glance; it is no protection against anyone who can read the file.
//
// The key state starts at 28417; each byte is XORed with the high byte of the
// key, then key := (scrambled byte + key) * 39173 + 30757 (16-bit wrap-around),
// where the scrambled byte is the output when scrambling and the input when
// unscrambling. Output and input have the same length.
QByteArray scrambleBytes(QByteArrayView plain);
QByteArray unscrambleBytes(QByteArrayView scrambled);

// The stored form of scrambled bytes: bytes 1..255 as the characters U+0001..
// U+00FF (Latin-1), and byte 0 as U+0100, so that no character 0 ends up in the
// settings file and the text keeps the length of the bytes. On reading, any other
// character above U+00FF (only a hand-edited file has one) stands for its low byte.
QString storedFromBytes(QByteArrayView bytes);
QByteArray bytesFromStored(const QString& stored);

// A password's UTF-8 bytes, scrambled, in stored form; and back. An empty
// password is stored as an empty text.
QString scramblePassword(const QString& password);
QString unscramblePassword(const QString& stored);

} // namespace taskhaul
