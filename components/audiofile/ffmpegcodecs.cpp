#include "components/audiofile/ffmpegcodecs.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>

#include <dlfcn.h>

namespace
{

QString modulePath()
{
    const QString set = qEnvironmentVariable("TAMBREL_FFMPEG_MODULE");
    if (!set.isEmpty())
        return set;
    const QString besideProgram = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() +
                                  QStringLiteral("/libtambrel_ffmpeg.so");
    if (QFileInfo::exists(besideProgram))
        return besideProgram;
    return QStringLiteral(TAMBREL_FFMPEG_MODULE_BUILT);
}

} // namespace

Result<const FfmpegCodecs*> ffmpegCodecs()
{
    static std::once_flag once;
    static const FfmpegCodecs* codecs = nullptr;
    static QString error;
    std::call_once(once, [] {
        const QString path = modulePath();
        // Kept loaded for the process's life: encoders made by it may live until the end.
        void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        const auto entry =
            module ? reinterpret_cast<TambrelFfmpegEntry>(::dlsym(module, TAMBREL_FFMPEG_ENTRY))
                   : nullptr;
        if (entry)
            codecs = entry();
        if (!codecs)
            error = QStringLiteral("FFmpeg's encoders cannot be loaded from %1: %2")
                        .arg(path, QString::fromLocal8Bit(::dlerror()));
    });
    if (!codecs)
        return Failure{error};
    return codecs;
}
