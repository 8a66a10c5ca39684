#pragma once

#include "components/outputfile.h"

// The output-file object of the real grabber: it keeps the format that grabs encode to.
class AudioOutputFile final : public OutputFile
{
public:
    bool ReadFlag() const override { return m_readFlag; }
    void SetReadFlag(bool flag) override { m_readFlag = flag; }
    QString FormatString() const override;

private:
    bool m_readFlag = false;
};
