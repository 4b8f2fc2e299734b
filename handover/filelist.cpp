#include "filelist.h"

#include <QtEndian>

namespace kelpa {

namespace {

void AppendNumber(QByteArray &out, uint32_t number)
{
    char bytes[4];
    qToBigEndian(number, bytes);
    out.append(bytes, 4);
}

// The answer's first byte: the list was taken.
constexpr char kTaken = '\x01';

} // namespace

QByteArray EncodeFileList(const QList<QByteArray> &files)
{
    QByteArray out;
    AppendNumber(out, static_cast<uint32_t>(files.size()));
    for (const QByteArray &file : files) {
        AppendNumber(out, static_cast<uint32_t>(file.size()));
        out.append(file);
    }
    return out;
}

QList<QByteArray> FilesThatFit(const QList<QByteArray> &files)
{
    QList<QByteArray> fit;
    qsizetype bytes = 4;
    for (const QByteArray &file : files) {
        if (file.size() > qsizetype(kMaxHandedNameBytes))
            continue;
        if (fit.size() == qsizetype(kMaxHandedFiles) ||
            bytes + 4 + file.size() > kMaxHandedListBytes)
            break;
        bytes += 4 + file.size();
        fit.append(file);
    }
    return fit;
}

QByteArray EncodeAnswer(uint32_t leftOut)
{
    QByteArray out(1, kTaken);
    AppendNumber(out, leftOut);
    return out;
}

std::optional<uint32_t> DecodeAnswer(QByteArrayView bytes)
{
    if (bytes.size() != kAnswerBytes || bytes[0] != kTaken)
        return std::nullopt;
    return qFromBigEndian<uint32_t>(bytes.data() + 1);
}

FileListReader::State FileListReader::feed(QByteArrayView bytes)
{
    if (state_ != State::Incomplete)
        return state_ = bytes.isEmpty() ? state_ : State::Broken;
    pending_.append(bytes);
    // Read from an offset and drop what was read once at the end: a long list comes in many
    // pieces, each holding many names.
    qsizetype at = 0;
    const auto number = [this, &at] { return qFromBigEndian<uint32_t>(pending_.constData() + at); };
    if (!haveCount_) {
        if (pending_.size() < 4)
            return state_;
        count_ = number();
        at = 4;
        haveCount_ = true;
        if (count_ > kMaxHandedFiles)
            return state_ = State::Broken;
    }
    while (uint32_t(files_.size()) < count_ && pending_.size() - at >= 4) {
        const uint32_t length = number();
        if (length > kMaxHandedNameBytes)
            return state_ = State::Broken;
        if (pending_.size() - at - 4 < qsizetype(length))
            break;
        files_.append(pending_.mid(at + 4, length));
        at += 4 + length;
    }
    pending_.remove(0, at);
    if (uint32_t(files_.size()) < count_)
        return state_;
    return state_ = pending_.isEmpty() ? State::Complete : State::Broken;
}

} // namespace kelpa
