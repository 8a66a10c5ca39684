#include "encoders/storedencodersettings.h"

#include "encoders/mp3settings.h"
#include "encoders/oggsettings.h"
#include "encoders/wmasettings.h"
#include "grab/trackoutput.h"

void applyStoredEncoderSettings(OutputFile& file, const CRegister& store, int formatCode)
{
    switch (formatCode) {
    case trackoutput::FormatMp3:
        if (Mp3Settings::anyStored(store))
            (void)applyMp3Settings(file, Mp3Settings::load(store));
        break;
    case trackoutput::FormatOgg:
        if (OggSettings::anyStored(store))
            applyOggSettings(file, OggSettings::load(store));
        break;
    case trackoutput::FormatWma:
        if (WmaSettings::anyStored(store))
            applyWmaSettings(file, WmaSettings::load(store));
        break;
    default:
        break;
    }
}

void applyAllStoredEncoderSettings(OutputFile& file, const CRegister& store)
{
    for (const int format :
         {trackoutput::FormatMp3, trackoutput::FormatWma, trackoutput::FormatOgg})
        applyStoredEncoderSettings(file, store, format);
}
