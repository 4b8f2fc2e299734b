#include "pagetemplate.h"

#include "pages.h"

#include <QFile>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// A page file that does not load is a mistake in the program, which every test that builds its
// page would meet.
[[noreturn]] void broken(const QString &what)
{
    qFatal("phone page file: %s", qUtf8Printable(what));
}

// Whether the break between two lines goes without leaving a space: beside a tag, or beside a
// section's marker, which stands on a line of its own.
bool joinsTight(QStringView before, QStringView after)
{
    const auto marker = [](QStringView line) {
        return line.startsWith(u"{{#") || line.startsWith(u"{{/");
    };
    return before.endsWith(u'>') || after.startsWith(u'<') || marker(before) || marker(after);
}

QString load(QStringView name)
{
    QFile file(u":/phone/"_s + name.toString());
    if (!file.open(QIODevice::ReadOnly))
        broken(name.toString() + u" is missing"_s);
    const bool script = name.endsWith(u".js");
    QString text;
    QString before;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw.trimmed());
        if (line.isEmpty())
            continue;
        if (script && !before.isEmpty())
            text += u'\n';
        else if (!before.isEmpty() && !joinsTight(before, line))
            text += u' ';
        text += line;
        before = line;
    }
    return text;
}

} // namespace

PageTemplate::PageTemplate(QStringView file)
{
    qsizetype at = 0;
    parse(load(file), at, {});
}

void PageTemplate::appendText(const QString &text)
{
    if (text.isEmpty())
        return;
    if (!pieces_.empty() && pieces_.back().kind == Piece::Literal)
        pieces_.back().text += text;
    else
        pieces_.push_back({Piece::Literal, text, nullptr});
}

// Reads pieces from `at` up to the marker {{/closing}}, or up to the end when closing is empty.
void PageTemplate::parse(const QString &text, qsizetype &at, QStringView closing)
{
    for (;;) {
        const qsizetype open = text.indexOf(u"{{"_s, at);
        appendText(text.mid(at, open < 0 ? -1 : open - at));
        if (open < 0) {
            if (!closing.isEmpty())
                broken(u"no {{/"_s + closing.toString() + u"}}"_s);
            return;
        }
        const qsizetype close = text.indexOf(u"}}"_s, open);
        if (close < 0)
            broken(u"no \"}}\" after "_s + text.mid(open, 40));
        const QString tag = text.mid(open + 2, close - open - 2);
        at = close + 2;
        if (tag.startsWith(u'#')) {
            Piece section{Piece::Section, tag.mid(1),
                          std::unique_ptr<PageTemplate>(new PageTemplate)};
            section.body->parse(text, at, section.text);
            pieces_.push_back(std::move(section));
        } else if (tag.startsWith(u'/')) {
            if (tag.mid(1) != closing || closing.isEmpty())
                broken(u"a stray {{"_s + tag + u"}}"_s);
            return;
        } else if (tag.startsWith(u'>')) {
            appendText(load(tag.mid(1)));
        } else if (!tag.isEmpty()) {
            pieces_.push_back({Piece::Value, tag, nullptr});
        } else {
            broken(u"an empty field before "_s + text.mid(at, 40));
        }
    }
}

void PageTemplate::fill(QString &out, Fields fields) const
{
    for (const Piece &piece : pieces_) {
        if (piece.kind == Piece::Literal) {
            out += piece.text;
            continue;
        }
        const Field *field = std::find_if(fields.begin(), fields.end(),
                                          [&](const Field &f) { return f.name == piece.text; });
        const bool given = field != fields.end();
        if (piece.kind == Piece::Value && given && field->kind == Field::Text) {
            AppendHtmlEscaped(out, field->value);
        } else if (piece.kind == Piece::Section && given && field->kind == Field::Html) {
            out += field->value;
        } else if (piece.kind == Piece::Section && given) {
            if (field->kind == Field::Flag ? field->flag : !field->value.isEmpty())
                piece.body->fill(out, fields);
        } else {
            out += (piece.kind == Piece::Section ? u"{{#"_s : u"{{"_s) + piece.text + u"}}"_s;
        }
    }
}

const PageTemplate &PageTemplate::part(QStringView name) const
{
    for (const Piece &piece : pieces_) {
        if (piece.kind == Piece::Section && piece.text == name)
            return *piece.body;
    }
    broken(u"no part {{#"_s + name.toString() + u"}}"_s);
}
