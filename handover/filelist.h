// The bytes that carry a list of file names from a second start to the running copy. A file
// name on Linux may hold any byte but NUL, newlines included, so no byte can mark its end:
// each name goes with its length in front. The list begins with its count; every number is
// 32 bits, big-endian.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>

namespace kelpa {

// Bounds a reader holds a sender to, so that a broken sender cannot make the running copy
// wait for, or keep, more than a playlist can take.
inline constexpr uint32_t kMaxHandedFiles = 32767;
inline constexpr uint32_t kMaxHandedNameBytes = 4096;

QByteArray EncodeFileList(const QList<QByteArray> &files);

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
