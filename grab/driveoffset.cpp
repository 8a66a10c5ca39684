#include "grab/driveoffset.h"

#include "components/cdgrabber.h"
#include "settings/readoffsets.h"

#include <QFileInfo>

namespace driveoffset
{

QString model(const CdGrabber& grabber)
{
    return grabber.DriveVendor() + u' ' + grabber.DriveProduct();
}

bool isImage(const CdGrabber& grabber)
{
    return QFileInfo(grabber.DriveLetter()).isFile();
}

int apply(CdGrabber& grabber, const CRegister& store, std::optional<int> given)
{
    const bool drive = grabber.CurrentDrive() > 0 && !isImage(grabber);
    int offset = 0;
    if (given) {
        if (drive)
            readoffsets::store(store, model(grabber), *given);
        offset = *given;
    } else if (drive) {
        offset = readoffsets::stored(store, model(grabber)).value_or(0);
    }
    grabber.SetReadOffset(offset);
    return offset;
}

} // namespace driveoffset
