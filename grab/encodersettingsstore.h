#pragma once

class OutputFile;

// Hands the encoder settings the user saved for a format (trackoutput::FormatCode) to the
// output-file object, mapped as the format's settings dialog maps them when applied. A format
// with nothing saved keeps the component's defaults. The command-line tool calls this before it
// grabs; the window applies settings from its dialogs instead.
void applyStoredEncoderSettings(OutputFile& file, int formatCode);
