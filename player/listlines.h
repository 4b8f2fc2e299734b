// Reading the lines of a list file, plain or m3u, and the file a line names. Lists come from
// Linux tools (UTF-8, or whatever bytes a name has here: Latin-1 names from old archives
// exist) and from Windows tools (Shift_JIS, Windows separators, blanks at the end of a line),
// mixed within one list when it grew over the years. Which readings a format tries is the
// format's own rule; the reading itself is done here, for both.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringDecoder>

#include <functional>
#include <optional>

class ListLineReader {
public:
    // Whether a name (the file system's bytes) names a file that can be read.
    using NamesAFile = bool (*)(QByteArray name);

    // Which readings of a line a format tries.
    struct Rules {
        bool shiftJis = false;          // also as Shift_JIS, after the bytes as they stand
        bool windowsSeparators = false; // then all of those with "\" turned into "/"
        // Where a reading names its file (a relative one from the list's folder); as it
        // stands when none is given.
        QByteArray (*place)(const QByteArray &reading, const QByteArray &folder) = nullptr;
        QByteArray folder;
    };

    explicit ListLineReader(NamesAFile namesAFile);

    // The lines of a list file. Lines end at CR LF, at a lone CR (old Macintosh and some
    // Windows tools) and at a lone LF (every Linux tool); a last line without an end counts.
    // A leading UTF-8 byte order mark is no part of the first line.
    // Each is handed to `each`, in order, until it answers false.
    static void Lines(QByteArrayView bytes, const std::function<bool(QByteArrayView line)> &each);

    // The first reading of the bases that names a file, as it is to be stored. Tried in this
    // order: each base as its bytes stand (which is also its UTF-8 reading, since Qt writes
    // names here in UTF-8), then as Shift_JIS where that decodes and differs; then those with
    // Windows separators. Windows ignores trailing blanks in file names, so a reading that
    // names no file is tried without them, and is stored with them.
    std::optional<QByteArray> FirstNamingAFile(const QList<QByteArray> &bases, const Rules &rules);

private:
    std::optional<QByteArray> ShiftJis(const QByteArray &bytes);
    bool Names(const QByteArray &reading) const;

    NamesAFile namesAFile_;
    QStringDecoder shiftJis_; // invalid on a Qt without ICU: then no line is read as Shift_JIS
};
