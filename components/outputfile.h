#pragma once

#include <QString>

// The output-file object the grabber hands out after every disc read. It holds the output format
// that later grabs encode to; one object serves the whole run, so settings survive a re-read.
class OutputFile
{
public:
    virtual ~OutputFile() = default;

    virtual bool ReadFlag() const = 0;
    virtual void SetReadFlag(bool flag) = 0;

    // A readable description of the current format.
    virtual QString FormatString() const = 0;
};
