#include "transfer/runs/progress.h"

namespace zuk {

QString clockText(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return (s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                      : QStringLiteral("%1").arg(s / 60))
        .append(QStringLiteral(":%1").arg(s % 60, 2, 10, QLatin1Char('0')));
}

}  // namespace zuk
