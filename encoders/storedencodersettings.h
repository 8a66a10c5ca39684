#pragma once

class CRegister;
class OutputFile;

// Hands the encoder settings the user saved for a format (trackoutput::FormatCode: MP3, WMA or
// OGG) to the output-file object, mapped as the format's settings dialog maps them on Apply. A
// format with nothing saved keeps the component's defaults, and so does an Ogg Vorbis setup the
// encoder refuses. Nothing is told: the program calls this at start-up for every format, and the
// command-line tool before it grabs.
void applyStoredEncoderSettings(OutputFile& file, const CRegister& store, int formatCode);
void applyAllStoredEncoderSettings(OutputFile& file, const CRegister& store);
