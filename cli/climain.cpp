// tambrel-cli: lists drives and tracks and grabs tracks into files, without a window.
#include "cli/clioptions.h"
#include "cli/cliripper.h"
#include "components/cdio/cdiograbber.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// SIGINT and SIGTERM are written to a pipe and handled on the event loop, where stopping the
// grab is safe.
int signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const char byte = char(signal);
    (void)!::write(signalPipe[1], &byte, 1);
}

// The last signal written to the pipe since the last call; 0 for none.
int takeCaughtSignal()
{
    int caught = 0;
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        caught = byte;
    return caught;
}

bool isBlockDevice(const QString& path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

} // namespace

int main(int argc, char* argv[])
{
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

    int caught = 0;
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err << "tambrel-cli: cannot set up signal handling." << Qt::endl;
        return CliRipper::ExitFailed;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &ripper, [&] {
        caught = takeCaughtSignal();
        ripper.interrupt();
    });
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    const int status = options.command == CliOptions::Command::List ? ripper.list(options.source)
                                                                    : ripper.convert(options);
    // Waits for the grab threads, so that a stopped grab's temporary file is gone.
    grabber.Close();
    // A signal that came while no event loop ran (reading a slow drive, say) is still pending.
    if (const int pending = takeCaughtSignal(); pending != 0)
        caught = pending;

    if (caught != 0) {
        // Ends as the signal would have, so that a calling shell stops too.
        ::signal(caught, SIG_DFL);
        ::raise(caught);
    }
    return status;
}
