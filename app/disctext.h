#pragma once

#include <QString>

// The texts the disc view shows for drives and tracks; the command-line tool shows the same.
namespace disctext
{

// "[" letter "]  " vendor "  " product "  " revision.
QString driveLine(const QString& letter, const QString& vendor, const QString& product,
                  const QString& revision);

// "Session1_Track1" for session index 0 and track index 0.
QString trackName(int sessionIndex, int trackIndex);

// "AUDIO" for the audio track type, empty for any other.
QString trackTypeText(int trackType);

// " 4:05:120": the minutes behind one blank, two digits of seconds, three of the fraction.
QString durationText(int minutes, int seconds, int fraction);

// A row's tag holds its disc position: session index * 100 + track index.
inline int trackTag(int sessionIndex, int trackIndex)
{
    return sessionIndex * 100 + trackIndex;
}
inline int tagSession(int tag)
{
    return tag / 100;
}
inline int tagTrack(int tag)
{
    return tag % 100;
}

} // namespace disctext
