#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

// For state that lives once per process (a problem reported once per run): the running test
// function's current data row runs again in a process of its own, where that state is fresh.
namespace rowprocess
{

constexpr const char* Variable = "TAMBREL_TEST_ROW_PROCESS";

// True in the process the row runs in for itself.
inline bool isRowProcess()
{
    return qEnvironmentVariableIsSet(Variable);
}

// Runs the current row in a child process: empty when it passed, else what the child said.
inline QByteArray runRow()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(Variable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QLatin1String(QTest::currentTestFunction()) + u':' +
                 QString::fromUtf8(QTest::currentDataTag())});
    if (!child.waitForFinished(60000))
        return "the row's process did not end within a minute";
    const QByteArray said = child.readAll();
    return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 ? QByteArray()
           : said.isEmpty() ? QByteArray("the row's process failed")
                            : said;
}

} // namespace rowprocess
