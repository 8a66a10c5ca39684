#pragma once

#include <QString>

#include <optional>

// Naming and placing the files of a grab, and the texts that show its progress. Shared by the
// main window and the command-line tool, so it needs no widget.
namespace trackoutput
{

// Output format codes; 0 means no format has been chosen yet. FLAC is the command-line tool's
// only: the window's format list holds the other four.
enum FormatCode : quint8 {
    FormatWav = 1,
    FormatMp3 = 2,
    FormatWma = 3,
    FormatOgg = 4,
    FormatFlac = 5
};

// The track name with every character a file name on the desktop can't safely hold
// (" < > | / \ * ?) replaced by "-". Anything else, a colon for instance, stays.
QString sanitizedName(const QString& trackName);

// ".wav", ".mp3", ".wma", ".ogg" or ".flac"; empty for a code that names no format.
QString extension(int formatCode);

// The code of a format list entry ("WAV", "MP3", "WMA", "OGG", exact case); none for other texts.
std::optional<quint8> formatCode(const QString& listText);

// folder + "/" + the sanitised name + the format's extension. The folder text is used as it is:
// one that ends in "/" gives two in a row, which the file system reads as one.
QString outputPath(const QString& folder, const QString& trackName, int formatCode);

// The batch's overall progress in percent while the tracksStarted-th of tracksToGrab tracks is
// at trackPercent; 0 when there is nothing to grab.
double overallPercent(int tracksStarted, int tracksToGrab, double trackPercent);

// "Completed: 37.50%": at least one digit before the point, exactly two after.
QString completedText(double overallPercent);

// A track's percent column: two decimals and no digit before the point when the value is below
// one, so one half shows ".50%" and the whole track "100.00%".
QString percentColumnText(double trackPercent);

} // namespace trackoutput
