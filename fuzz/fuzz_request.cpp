// libFuzzer target over the web remote's request handling: arbitrary received bytes go the
// way HandleRequest takes them (completion test, whole decoding, request line, routing) and
// the answer is built and encoded as it would be sent. Besides crashes, it checks what a
// hostile request must never achieve: control without a login, a length line that lies, a
// page over its byte limit, markup from a title reaching the page unescaped. Requests for the
// phone pages go through their own reading: the body wait, the form fields and the cookie.
#include "webremote/pages.h"
#include "webremote/phonerequest.h"
#include "webremote/request.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Sends nothing; checks the bytes that would go out.
void answer(const QString &response)
{
    const QByteArray wire = AnsiEncode(response);
    check(AnsiByteLen(response) == wire.size());
    const qsizetype headerEnd = wire.indexOf("\r\n\r\n");
    check(headerEnd > 0);
    const QByteArray body = wire.mid(headerEnd + 4);
    const qsizetype lengthAt = wire.indexOf("ength: ");
    check(lengthAt > 0 && lengthAt < headerEnd);
    check(wire.mid(lengthAt + 7, wire.indexOf("\r\n", lengthAt) - lengthAt - 7).toLongLong() ==
          body.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray received(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (IsPhoneRequest(received)) {
        if (!IsRequestComplete(received) || !IsBodyComplete(received))
            return 0;
        if (const std::optional<PhoneRequest> phone = ParsePhoneRequest(received)) {
            // A request is answered by what its request line names, and nothing else.
            check(phone->path.startsWith(u"/m/"_s) &&
                  QString::fromUtf8(received.left(received.indexOf("\r\n"))).contains(phone->path));
        }
        return 0;
    }
    if (!IsRequestComplete(received)) {
        if (received.size() > RecvBufferLimit)
            answer(BuildNotFoundResponse());
        return 0;
    }
    const QString request = AnsiDecode(received);
    const std::optional<QString> path = RequestPath(request);
    // The header checks read every line of whatever came. A request whose only Host line
    // names another machine never gets in, nor one that says it comes from another site.
    const QString head = request.left(request.indexOf(u"\r\n\r\n"_s) + 2);
    if (head.count(u"\r\nhost:"_s, Qt::CaseInsensitive) == 1 &&
        head.contains(u"\r\nHost: evil.example\r\n"_s))
        check(!IsHostAccepted(request, HostNames{u"kelpa-host"_s, {}}));
    if (head.contains(u"\r\nSec-Fetch-Site: cross-site\r\n"_s))
        check(IsCrossSite(request));
    if (!path) {
        answer(BuildNotFoundResponse());
        return 0;
    }

    // Before any login nothing but the login pages and 404 may come out.
    const Route anonymous = RouteRequest(*path, u"wuzel"_s, std::nullopt);
    check(anonymous.kind != Route::Control && anonymous.kind != Route::PlayEntry);

    const Route route = RouteRequest(*path, u"wuzel"_s, int16_t{42});
    if (route.kind == Route::Control || route.kind == Route::PlayEntry)
        check(path->startsWith(u"/42/"_s));
    check(!route.command || (*route.command >= kelpa::Transport::Previous &&
                             *route.command <= kelpa::Transport::Next));

    // The request's own text stands in for a hostile track title.
    const QStringList titles{*path, request.left(300), u"<b>&\"</b>"_s};
    const auto itemAt = [&](int i) { return titles.at(i % titles.size()); };
    for (const int32_t limit : {-1, 500, 5000}) {
        const QString body = BuildControlPage(u"kelpa - "_s + *path, 9, itemAt, limit);
        const QByteArray bytes = AnsiEncode(body);
        if (limit > 0 && bytes.count("<br><a href=\"p") > 0)
            check(bytes.size() < limit);
        // Every "<" on the page is the page's own markup.
        check(!HtmlEscape(*path).contains(u'<') && !HtmlEscape(*path).contains(u'"'));
        answer(BuildOkResponse(body));
    }
    answer(BuildOkResponse(WelcomePage(static_cast<int16_t>(received.size() % 10000))));
    return 0;
}
