#include "listlines.h"

#include "trimblanks.h"

#include <QFile>

namespace {

const char kShiftJis[] = "Shift_JIS";

} // namespace

ListLineReader::ListLineReader(NamesAFile namesAFile)
    : namesAFile_(namesAFile), shiftJis_(kShiftJis)
{}

void ListLineReader::Lines(QByteArrayView bytes,
                           const std::function<bool(QByteArrayView line)> &each)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        if (!each(bytes.sliced(start, i - start)))
            return;
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        each(bytes.sliced(start));
}

std::optional<QByteArray> ListLineReader::ShiftJis(const QByteArray &bytes)
{
    if (!shiftJis_.isValid())
        return std::nullopt;
    shiftJis_.resetState(); // no half character of the line before
    const QByteArray name = QFile::encodeName(shiftJis_(bytes));
    if (shiftJis_.hasError()) {
        // A decoder keeps its error through resetState(): left as it is, it would refuse
        // every later line of the list too.
        shiftJis_ = QStringDecoder(kShiftJis);
        return std::nullopt;
    }
    if (name == bytes)
        return std::nullopt;
    return name;
}

bool ListLineReader::Names(const QByteArray &reading) const
{
    if (reading.isEmpty())
        return false;
    const QByteArray trimmed = TrimTrailingBlanks(reading);
    return namesAFile_(reading) || (trimmed != reading && namesAFile_(trimmed));
}

std::optional<QByteArray> ListLineReader::FirstNamingAFile(const QList<QByteArray> &bases,
                                                           const Rules &rules)
{
    // Readings are made as they are needed: most lines name their file as they stand.
    const auto placed = [&rules](const QByteArray &reading) {
        return rules.place ? rules.place(reading, rules.folder) : reading;
    };
    QList<QByteArray> tried;
    for (const QByteArray &base : bases) {
        tried.append(base);
        if (const QByteArray name = placed(base); Names(name))
            return name;
        if (!rules.shiftJis)
            continue;
        if (const std::optional<QByteArray> decoded = ShiftJis(base)) {
            tried.append(*decoded);
            if (const QByteArray name = placed(*decoded); Names(name))
                return name;
        }
    }
    if (rules.windowsSeparators) {
        for (const QByteArray &reading : std::as_const(tried)) {
            if (!reading.contains('\\'))
                continue;
            if (const QByteArray name = placed(QByteArray(reading).replace('\\', '/')); Names(name))
                return name;
        }
    }
    return std::nullopt;
}
