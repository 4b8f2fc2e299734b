// The bytes that carry a list of file names from a second start to the running copy. A file
// name on Linux may hold any byte but NUL, newlines included, so no byte can mark its end:
// each name goes with its length in front. The list begins with its count; every number is
// 32 bits, big-endian. The running copy answers a whole list with one byte, 1, and the count
// of the names it left out because its playlist was full.
#pragma once

#include "control/playercontrol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <optional>

namespace kelpa {

// Bounds a reader holds a sender to, so that a broken sender cannot make the running copy
// wait for, or keep, more than a playlist can take.
inline constexpr uint32_t kMaxHandedFiles = kelpa::MaxEntries;
inline constexpr uint32_t kMaxHandedNameBytes = 4096;
// The most a list may take on the wire; also what the running copy holds for all unfinished
// lists together.
inline constexpr qsizetype kMaxHandedListBytes = 16 * 1024 * 1024;

QByteArray EncodeFileList(const QList<QByteArray> &files);
// The longest head of files that makes a list within the bounds above. Names no file can have
// (longer than a path may be) are passed over, as a drop passes over names of no file.
QList<QByteArray> FilesThatFit(const QList<QByteArray> &files);

QByteArray EncodeAnswer(uint32_t leftOut);
// The count left out, from a whole answer; nothing when the bytes are no answer.
std::optional<uint32_t> DecodeAnswer(QByteArrayView bytes);
inline constexpr qsizetype kAnswerBytes = 5;

// Takes the list as it arrives, in pieces of any size.
class FileListReader {
public:
    enum class State { Incomplete, Complete, Broken };

    // Takes the next bytes. Bytes past a complete list, or a count or length beyond the bounds,
    // break it.
    State feed(QByteArrayView bytes);
    State state() const { return state_; }
    // The names read so far, in order; all of them once the state is Complete.
    const QList<QByteArray> &files() const { return files_; }

private:
    State state_ = State::Incomplete;
    QByteArray pending_;
    bool haveCount_ = false;
    uint32_t count_ = 0;
    QList<QByteArray> files_;
};

} // namespace kelpa
