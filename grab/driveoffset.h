#pragma once

#include <QString>

#include <optional>

class CdGrabber;
class CRegister;

// The read offset of the grabber's current drive, kept per drive model in the settings store:
// the window and the command-line tool read one drive alike.
namespace driveoffset
{

// "VENDOR PRODUCT", as the drive names itself.
QString model(const CdGrabber& grabber);
// Whether the grabber's current drive is a disc image, whose offset is never kept.
bool isImage(const CdGrabber& grabber);
// Gives the grabber the offset to read its current drive with: the one given (kept for a
// drive's model from then on), else the one kept for the model, else 0. An image's offset
// applies to this run only. Returns the offset given to the grabber.
int apply(CdGrabber& grabber, const CRegister& store, std::optional<int> given = {});

} // namespace driveoffset
