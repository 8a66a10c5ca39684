#include "grab/encodersettingsstore.h"

#include "components/outputfile.h"

void applyStoredEncoderSettings(OutputFile& /*file*/, int /*formatCode*/)
{
    // No format has settings of its own in the store yet: every grab uses the component's
    // defaults. The settings dialogs add their mapping here when they start saving settings.
}
