#include "app/formmain.h"
#include "app/singleinstance.h"
#include "components/cdio/cdiograbber.h"
#include "ui/qtuserdialogs.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tambrel"));
    QApplication::setOrganizationName(QStringLiteral("Tambrel"));
    QApplication::setApplicationVersion(QStringLiteral(TAMBREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Rips audio CDs and disc images to WAV, MP3, WMA and Ogg Vorbis files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("image"),
        QStringLiteral("Disc images (.cue, .toc, .nrg) to list after the CD drives."),
        QStringLiteral("[IMAGE...]"));
    parser.process(app);

    // A second instance ends at once, without a word.
    const SingleInstance instance;
    if (!instance.isFirst())
        return 0;

    QtUserDialogs dialogs;
    FormMain window(std::make_unique<CdioGrabber>(parser.positionalArguments()), dialogs);
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
