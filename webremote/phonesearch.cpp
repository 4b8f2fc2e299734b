#include "phonesearch.h"

#include "phonepages.h"

#include <algorithm>
#include <iterator>

namespace {

// The full-width forms of the half-width katakana U+FF66 .. U+FF9D, in their order.
constexpr char16_t HalfWidthKana[] =
    u"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモ"
    u"ヤユヨラリルレロワン";
static_assert(std::size(HalfWidthKana) == 0xFF9D - 0xFF66 + 2);

// The punctuation U+FF61 .. U+FF65: 。「」、・
constexpr char16_t HalfWidthMarks[] = u"。「」、・";

// The kana a voiced mark (handakuten: semi) turns `kana` into; 0 when it takes none.
char16_t voiced(char16_t kana, bool semi)
{
    const bool haRow = kana >= u'ハ' && kana <= u'ホ' && (kana - u'ハ') % 3 == 0;
    if (semi)
        return haRow ? char16_t(kana + 2) : 0;
    if (haRow || (kana >= u'カ' && kana <= u'チ' && kana % 2 == 1) || kana == u'ツ' ||
        kana == u'テ' || kana == u'ト')
        return char16_t(kana + 1);
    switch (kana) {
    case u'ウ':
        return u'ヴ';
    case u'ワ':
        return u'ヷ';
    case u'ヲ':
        return u'ヺ';
    case u'ヽ':
        return u'ヾ';
    default:
        return 0;
    }
}

} // namespace

void AppendSearchFolded(QString &out, QStringView text)
{
    // Folding never lengthens a text: it is written in place, a character at a time.
    qsizetype written = out.size();
    out.resize(written + text.size());
    QChar *const folded = out.data();
    for (const QChar qc : text) {
        char16_t c = qc.unicode();
        if (c >= u'！' && c <= u'～')
            c = char16_t(c - 0xFEE0); // full-width Latin to ASCII
        else if (c == u'\u3000')
            c = u' ';
        else if (c >= 0xFF61 && c <= 0xFF65)
            c = HalfWidthMarks[c - 0xFF61];
        else if (c >= 0xFF66 && c <= 0xFF9D)
            c = HalfWidthKana[c - 0xFF66];
        else if ((c >= u'ぁ' && c <= u'ゖ') || c == u'ゝ' || c == u'ゞ')
            c = char16_t(c + 0x60); // hiragana to katakana
        if (c == 0xFF9E || c == 0xFF9F || (c >= 0x3099 && c <= 0x309C)) {
            // A voiced mark after its kana: the two are one character.
            const bool semi = c == 0xFF9F || c == 0x309A || c == 0x309C;
            const char16_t joined = written > 0 ? voiced(folded[written - 1].unicode(), semi) : 0;
            if (joined) {
                folded[written - 1] = QChar(joined);
                continue;
            }
        }
        // Kana and ideographs have no case.
        if (c < 0x80)
            folded[written++] = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
        else if (c >= 0x3000 && c < 0xA000)
            folded[written++] = QChar(c);
        else
            folded[written++] = QChar(c).toCaseFolded();
    }
    out.truncate(written);
}

QList<int> SearchEntries(const kelpa::PlayerControl &player, QStringView query)
{
    QString folded;
    AppendSearchFolded(folded, query);
    QList<QStringView> words = QStringView(folded).split(u' ', Qt::SkipEmptyParts);
    // Thousands of words would hold the UI thread for seconds over a full playlist.
    words.resize(std::min<qsizetype>(words.size(), MaxSearchWords));
    const int count = player.entryCount();
    QList<int> found;
    if (words.isEmpty()) {
        found.reserve(count);
        for (int i = 0; i < count; ++i)
            found.append(i);
        return found;
    }
    // One buffer for every entry: the fields apart by a line break, which no word holds.
    QString fields;
    for (int i = 0; i < count; ++i) {
        fields.clear();
        AppendSearchFolded(fields, player.entryText(i));
        fields += u'\n';
        AppendSearchFolded(fields, player.entryArtist(i));
        fields += u'\n';
        AppendSearchFolded(fields, PhoneFileName(player.entryPath(i)));
        if (std::all_of(words.cbegin(), words.cend(),
                        [&](QStringView word) { return fields.contains(word); }))
            found.append(i);
    }
    return found;
}
