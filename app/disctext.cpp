#include "app/disctext.h"

#include "components/cdgrabber.h"

namespace disctext
{

QString driveLine(const QString& letter, const QString& vendor, const QString& product,
                  const QString& revision)
{
    return QLatin1Char('[') + letter + QStringLiteral("]  ") + vendor + QStringLiteral("  ") +
           product + QStringLiteral("  ") + revision;
}

QString trackName(int sessionIndex, int trackIndex)
{
    return QStringLiteral("Session%1_Track%2").arg(sessionIndex + 1).arg(trackIndex + 1);
}

QString trackTypeText(int trackType)
{
    return trackType == CdGrabber::TrackTypeAudio ? QStringLiteral("AUDIO") : QString();
}

QString durationText(int minutes, int seconds, int fraction)
{
    // The blank stands where the sign of a negative number would be.
    return QStringLiteral(" %1:%2:%3")
        .arg(minutes)
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(fraction, 3, 10, QLatin1Char('0'));
}

} // namespace disctext
