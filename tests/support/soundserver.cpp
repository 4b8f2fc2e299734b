#include "soundserver.h"

#include <QProcess>

bool soundServerAvailable(QString *why)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    QString reason;
    if (!p.waitForStarted(5000)) {
        reason = QStringLiteral("cannot start pactl: %1").arg(p.errorString());
    } else if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(2000);
        reason = QStringLiteral("pactl info did not answer within 10 s");
    } else if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        reason = QStringLiteral("pactl info failed: %1")
                     .arg(QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    }
    if (why)
        *why = reason;
    return reason.isEmpty();
}

bool soundServerRequired()
{
    return qEnvironmentVariableIntValue("KELPA_REQUIRE_SOUND") != 0;
}
