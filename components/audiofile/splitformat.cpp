#include "components/audiofile/splitformat.h"

#include <QDir>

QString SplitFormat::spillFolder() const
{
    return m_spillFolder.isEmpty() ? QDir::tempPath() : m_spillFolder;
}

QString SplitFormat::spillWriteError() const
{
    const int error = m_spillWriteError->load();
    return error == 0 ? QString() : qt_error_string(error);
}

Result<SpillFile> SplitFormat::makeSpillFile() const
{
    return SpillFile::make(spillFolder(), m_spillWriteError);
}

std::unique_ptr<SplitFormat> makeSplitFormat(const QString& extension,
                                             const EncoderSettings& settings)
{
    const QString key = (extension.startsWith(u'.') ? extension.mid(1) : extension).toLower();
    if (key == u"mp3")
        return makeMp3SplitFormat(settings.mp3);
    if (key == u"ogg")
        return makeVorbisSplitFormat(settings.ogg);
    return nullptr;
}
