// libFuzzer target over the web remote's request handling: arbitrary received bytes, once they
// make a whole request, go through the very handler the server runs (HandleRequest: the one
// parser, the Host and origin checks, the route table, the guard, the answers), against the
// fake player. Besides crashes, it checks what a hostile request must never achieve: a command
// without a login, a length line that lies, a page over its byte limit, markup from a title
// reaching a page unescaped.
#include "tests/fakeplayercontrol.h"
#include "webremote/remotehandler.h"
#include "webremote/request.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// A hostile title: it must show as text wherever it shows.
constexpr char Markup[] = "<b id=\"k\">&";

// The answer is one whole response whose length line tells the truth.
void checkWire(const QByteArray &wire)
{
    check(wire.startsWith("HTTP/1.0 200 OK\r\n") || wire.startsWith("HTTP/1.0 303 See Other\r\n") ||
          wire.startsWith("HTTP/1.0 404 Not found\r\n"));
    const qsizetype headerEnd = wire.indexOf("\r\n\r\n");
    check(headerEnd > 0);
    const qsizetype lengthAt = wire.indexOf("ength: ");
    check(lengthAt > 0 && lengthAt < headerEnd);
    check(wire.mid(lengthAt + 7, wire.indexOf("\r\n", lengthAt) - lengthAt - 7).toLongLong() ==
          wire.size() - headerEnd - 4);
    check(!wire.contains(Markup));
}

struct Player : FakePlayerControl {
    Player()
    {
        for (int i = 0; i < 40; ++i)
            paths.append("/music/" + QByteArray(Markup) + QByteArray::number(i) + ".mp3");
    }
    bool untouched() const
    {
        return state == kelpa::PlaybackStatus::Stopped && current == -1 && !loopOn &&
               level == 100 && seconds == 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray received(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (!IsRequestComplete(received))
        return 0;
    const QHostAddress owner(u"127.0.0.1"_s);
    const HostNames names{u"kelpa-host"_s, {}};

    // Before any login nothing may run.
    {
        Player player;
        RemoteState state(ServerTimings{});
        state.setLoginId(u"wuzel"_s, 0);
        checkWire(HandleRequest(received, owner, 0, state, player, names).bytes);
        check(player.untouched());
    }

    // After a login, only a path with its number runs anything, and the control page keeps to
    // its byte limit.
    Player player;
    RemoteState state(ServerTimings{});
    state.setLoginId(u"wuzel"_s, 0);
    state.listByteLimit = 500;
    const QByteArray welcome =
        HandleRequest("GET /l.cgi?id=wuzel HTTP/1.0\r\n\r\n", owner, 0, state, player, names).bytes;
    const qsizetype at = welcome.indexOf("<a href=\"/") + 10;
    const QByteArray prefix = "GET /" + welcome.mid(at, welcome.indexOf('/', at) - at) + '/';
    const Reply answer = HandleRequest(received, owner, 1, state, player, names);
    checkWire(answer.bytes);
    if (!player.untouched())
        check(received.startsWith(prefix));
    if (answer.bytes.contains("<br><a href=\"p"))
        check(answer.bytes.size() - answer.bytes.indexOf("\r\n\r\n") - 4 < 500);
    return 0;
}
