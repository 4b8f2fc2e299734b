#include "phonedevice.h"

#include <QRegularExpression>

#include <initializer_list>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype MaxPart = 24;

// Letters, digits, blanks and a little punctuation of ASCII, blanks run together, cut short.
QString plainPart(QByteArrayView text)
{
    QString out;
    for (const char c : text) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') ||
                          (c != '\0' && QByteArrayView("-_.+ ").contains(c));
        if (kept && !(c == ' ' && (out.isEmpty() || out.endsWith(u' '))))
            out += QLatin1Char(c);
        if (out.size() == MaxPart)
            break;
    }
    return out.trimmed();
}

using Marks = std::initializer_list<std::pair<const char *, QString>>;

// The name of the first mark the agent holds; the marks go from the most particular on.
QString firstMarked(const QByteArray &agent, Marks marks)
{
    for (const auto &[mark, name] : marks) {
        if (agent.contains(mark))
            return name;
    }
    return {};
}

QString deviceOf(const QByteArray &agent)
{
    if (QString apple =
            firstMarked(agent, {{"iPhone", u"iPhone"_s}, {"iPad", u"iPad"_s}, {"iPod", u"iPod"_s}});
        !apple.isEmpty())
        return apple;
    // "Android 14; Pixel 8)" or "Android 9; SM-G960F Build/...": the model follows the version,
    // where browsers still name it ("K" where they no longer do).
    static const QRegularExpression android(
        u"Android[^;)]*;\\s*([^;)]*?)(?:\\s+Build/[^;)]*)?[;)]"_s);
    if (agent.contains("Android")) {
        const QString model =
            plainPart(android.match(QString::fromLatin1(agent)).captured(1).toLatin1());
        return model.isEmpty() || model == u"K"_s ? u"Android"_s : model;
    }
    return firstMarked(agent, {{"Windows", u"Windows"_s},
                               {"Macintosh", u"Mac"_s},
                               {"CrOS", u"Chromebook"_s},
                               {"Linux", u"Linux"_s}});
}

QString browserOf(const QByteArray &agent)
{
    return firstMarked(agent, {{"Edg", u"Edge"_s},
                               {"SamsungBrowser/", u"Samsung Internet"_s},
                               {"Firefox/", u"Firefox"_s},
                               {"FxiOS/", u"Firefox"_s},
                               {"CriOS/", u"Chrome"_s},
                               {"Chrome/", u"Chrome"_s},
                               {"Safari/", u"Safari"_s}});
}

} // namespace

QString PhoneDeviceName(const QByteArray &userAgent)
{
    const QString name = (deviceOf(userAgent) + u' ' + browserOf(userAgent)).trimmed();
    if (!name.isEmpty())
        return name;
    // A client of another kind: the product it names first ("curl/8.0").
    const QString product = plainPart(userAgent.left(userAgent.indexOf('/')));
    return product.isEmpty() ? u"不明"_s : product;
}
