// The phone pages are written as files (webremote/phone/), built into the program as resources
// under ":/phone/", with fields in double braces that the server fills in:
//
//   {{name}}               a text, HTML-escaped as it goes in
//   {{#name}}...{{/name}}  a part kept when its field is true or a text that is not empty (the
//                          part sees the same fields), or replaced by markup the caller built
//                          from it, as the playlist's rows are
//   {{>file}}              another file of the folder as it is (the style, the script), put in
//                          once, when the page is loaded
//
// A file's lines lose their indentation when it is loaded, and a line break becomes nothing
// beside a tag's "<" or ">" or a section's marker, and one space elsewhere, so that no word or
// attribute runs into the next; a script (".js") keeps its line breaks, which may end its
// statements and its comments. So the files are laid out for their readers, while comments in
// the style and the script go out with every page: they are kept few. A page is loaded and cut
// at its fields once, by the first page built from it.
//
// A field the caller gives no value shows as written, "{{name}}", for the tests to find.
#pragma once

#include <QString>
#include <QStringView>

#include <initializer_list>
#include <memory>
#include <vector>

class PageTemplate {
public:
    // Markup built from a part of the page (part()), put in for that part as it is.
    struct Markup {
        QString html;
    };

    struct Field {
        Field(QStringView fieldName, QString text)
            : name(fieldName), kind(Text), value(std::move(text))
        {}
        Field(QStringView fieldName, int number)
            : name(fieldName), kind(Text), value(QString::number(number))
        {}
        Field(QStringView fieldName, bool kept) : name(fieldName), kind(Flag), flag(kept) {}
        Field(QStringView fieldName, Markup markup)
            : name(fieldName), kind(Html), value(std::move(markup.html))
        {}
        // A string literal would otherwise be taken for a flag.
        template <typename Char> Field(QStringView, const Char *) = delete;

        QStringView name;
        enum Kind { Text, Flag, Html } kind;
        QString value;
        bool flag = false;
    };
    using Fields = std::initializer_list<Field>;

    // The page file of that name; a file that is missing or whose braces do not match stops
    // the program, at the first page built from it.
    explicit PageTemplate(QStringView file);

    // Appends the page with its fields filled in.
    void fill(QString &out, Fields fields) const;
    // The part {{#name}}...{{/name}}, to be filled once for each of a list's items.
    const PageTemplate &part(QStringView name) const;

private:
    PageTemplate() = default;
    void parse(const QString &text, qsizetype &at, QStringView closing);
    void appendText(const QString &text);

    struct Piece {
        enum Kind { Literal, Value, Section } kind;
        QString text;                       // the literal text, or the field's name
        std::unique_ptr<PageTemplate> body; // a section's
    };
    std::vector<Piece> pieces_;
};
