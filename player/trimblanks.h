// The player hands paths to the engine without the blanks around them, as it always has:
// list files written by hand often carry them. Only blanks go; a tab or other white space
// belongs to the name.
#pragma once

#include <QString>

inline QString TrimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.sliced(first, last - first);
}

inline QString TrimTrailingBlanks(const QString &text)
{
    qsizetype last = text.size();
    while (last > 0 && text[last - 1] == u' ')
        --last;
    return text.first(last);
}
