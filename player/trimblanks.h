// The player hands paths to the engine without the blanks around them, as it always has:
// list files written by hand often carry them. Only blanks go; a tab or other white space
// belongs to the name. Paths are the file system's bytes, where a blank is always 0x20.
#pragma once

#include <QByteArray>

inline QByteArray TrimTrailingBlanks(const QByteArray &path)
{
    qsizetype last = path.size();
    while (last > 0 && path[last - 1] == ' ')
        --last;
    return path.first(last);
}

inline QByteArray TrimBlanks(const QByteArray &path)
{
    const QByteArray trailingGone = TrimTrailingBlanks(path);
    qsizetype first = 0;
    while (first < trailingGone.size() && trailingGone[first] == ' ')
        ++first;
    return trailingGone.sliced(first);
}
