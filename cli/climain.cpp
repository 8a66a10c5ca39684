// tambrel-cli: lists drives and tracks and grabs tracks into files, without a window.
#include "app/terminationsignals.h"
#include "cli/clioptions.h"
#include "cli/cliripper.h"
#include "components/cdio/cdiograbber.h"
#include "components/cdio/splitencode.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <csignal>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool isBlockDevice(const QString& path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

} // namespace

int main(int argc, char* argv[])
{
    // A file grown past the size limit (ulimit -f) fails its write with EFBIG, and the track
    // fails with that reason, instead of the program being killed without a word.
    ::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tambrel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tambrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBREL_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    Result<CliOptions> parsed = parseCliArguments(QCoreApplication::arguments());
    if (!parsed.ok()) {
        err << "tambrel-cli: " << parsed.error() << Qt::endl;
        return CliRipper::ExitUsage;
    }
    const CliOptions options = parsed.take();
    if (options.command == CliOptions::Command::Help) {
        out << cliHelpText();
        return CliRipper::ExitOk;
    }
    if (options.command == CliOptions::Command::Version) {
        out << "tambrel-cli " << QCoreApplication::applicationVersion() << Qt::endl;
        return CliRipper::ExitOk;
    }

    // A drive is found among the system's drives; anything else is opened as a disc image.
    QStringList images;
    if (!options.source.isEmpty() && !isBlockDevice(options.source))
        images << options.source;
    CdioGrabber grabber(images);
    CliRipper::TerminalColumns columns;
    if (::isatty(STDERR_FILENO) && !options.quiet) {
        columns = [] {
            winsize size{};
            // A terminal that tells no width is taken to be the classic 80 columns.
            return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                       ? int(size.ws_col)
                       : 80;
        };
    }
    CliRipper ripper(grabber, out, err, columns);
    // Several tracks of an image at once, each encoded on its share of the cores; a track
    // grabbed alone is encoded on all of them.
    if (!images.isEmpty()) {
        const int cores = SplitEncode::usableThreads();
        // More tracks at once than cores would only share them, and each costs its buffers.
        const int jobs = options.jobs > 0 ? std::min(options.jobs, cores) : cores;
        ripper.setParallel(jobs, [images, &grabber, perJob = std::max(1, cores / jobs)] {
            // This grabber takes tracks beside the others once there are others: it gets its
            // share of the cores too.
            grabber.setEncodeThreads(perJob);
            auto another = std::make_unique<CdioGrabber>(images);
            another->setEncodeThreads(perJob);
            return std::unique_ptr<CdGrabber>(std::move(another));
        });
    }

    TerminationSignals termination({SIGINT, SIGTERM});
    if (!termination.ok()) {
        err << "tambrel-cli: cannot set up signal handling." << Qt::endl;
        return CliRipper::ExitFailed;
    }
    QObject::connect(&termination, &TerminationSignals::received, &ripper, &CliRipper::interrupt);

    const int status = options.command == CliOptions::Command::List   ? ripper.list(options.source)
                       : options.command == CliOptions::Command::Info ? ripper.info(options)
                                                                      : ripper.convert(options);
    // A stopped grab's temporary file is gone once the grabber is closed.
    grabber.Close();
    // From here on a signal ends the program at once, by its default action. One that came
    // before, also while no event loop ran (reading a slow drive, or after the last track),
    // ends it the same way, so that a calling shell stops too.
    for (const int signalNumber : {SIGINT, SIGTERM})
        ::signal(signalNumber, SIG_DFL);
    TerminationSignals::endBy(termination.caught());
    return status;
}
