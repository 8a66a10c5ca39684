#include "app/formmain.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "components/alsa/alsaplayer.h"
#include "components/cdio/cdiograbber.h"
#include "ui/qtuserdialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <csignal>
#include <memory>

namespace
{

void describeProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tambrel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tambrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBREL_VERSION));
}

// Whether the command line asks only for the help or the version, which need no display.
bool asksForTextOnly(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--") // what follows is images
            return false;
        if (argument == "-h" || argument == "--help" || argument == "--help-all" ||
            argument == "-v" || argument == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    ::signal(SIGXFSZ, SIG_IGN);
    // The help and the version are printed without a window system: a terminal on a machine
    // without a display gets them too.
    std::unique_ptr<QCoreApplication> app;
    if (asksForTextOnly(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    describeProgram();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Rips audio CDs and disc images to WAV, MP3, WMA and Ogg Vorbis files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("image"),
        QStringLiteral("Disc images (.cue, .toc, .nrg) to list after the CD drives."),
        QStringLiteral("[IMAGE...]"));
    const QCommandLineOption quitAfterStart(
        QStringLiteral("quit-after-start"),
        QStringLiteral("Quit as soon as the window is up (to measure the start-up)."));
    parser.addOption(quitAfterStart);
    parser.process(*app);

    // A second instance ends at once, without a word.
    const SingleInstance instance;
    if (!instance.isFirst())
        return 0;

    QtUserDialogs dialogs;
    FormMain window(std::make_unique<CdioGrabber>(parser.positionalArguments()),
                    std::make_unique<AlsaPlayer>(), dialogs);
    window.Form_Load();
    // Logging out (SIGHUP, SIGTERM) or Ctrl-C in a terminal stops a running grab cleanly. Before
    // this point no grab can run, and the signals end the program as usual.
    TerminationSignals termination({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&termination, &TerminationSignals::received, &window,
                     &FormMain::closeWithoutAsking);
    window.show();
    if (parser.isSet(quitAfterStart))
        QTimer::singleShot(0, &window, &FormMain::closeWithoutAsking);
    const int status = QApplication::exec();
    TerminationSignals::endBy(termination.caught());
    return status;
}
