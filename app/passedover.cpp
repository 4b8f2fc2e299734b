#include "passedover.h"

#include "engine/enginelibrary.h"
#include "player/playlistreader.h"

void NamePassedOver(const QList<QByteArray> &files, const QString &programDir, FILE *report)
{
    if (files.isEmpty())
        return;
    EngineLibrary engine(programDir);
    if (!engine.init())
        return;
    const PlaylistReader::TagReader readTags =
        [&engine](const QByteArray &name) -> std::optional<TrackTags> {
        EngineLibrary::TagRecord tag{};
        EngineLibrary::StreamRecord stream{};
        if (engine.getFileInfo(name, tag, stream) == 0)
            return std::nullopt;
        return TrackTags{}; // a track: what it is called does not matter here
    };
    for (const QByteArray &file : files) {
        // Read as the playlist reads it, up to the first entry it would add.
        bool adds = false;
        PlaylistReader(readTags, 0).Read({file}, [&adds](PlaylistEntry &&) {
            adds = true;
            return false;
        });
        if (!adds)
            std::fprintf(report, "kelpa: passed over, neither a track nor a list of tracks: %s\n",
                         file.constData());
    }
    std::fflush(report);
}
