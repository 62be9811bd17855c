#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTcpServer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A port nobody listens on right now.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString idText(const Recording &recording)
{
    return recording.id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

// The web page in Debian's Chromium, headless, against the real headless
// program on a port of its own and a local provider. The browser part is
// tests/app/page/page_test.py; a browser that cannot start fails the test.
TEST(PageInBrowser, ListsStopsDeletesAndDownloadsAndRefusesOtherSites)
{
    FakeProvider provider;
    provider.serve(QStringLiteral("/live/u/p/1.ts"), FakeProvider::Answer::slowStream(18800, 200ms));
    RecorderProcess recorder;
    ASSERT_TRUE(recorder.isValid());
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    recorder.useTestPort(port);

    Recording running = onAirRecording(provider.url(QStringLiteral("/live/u/p/1.ts")).toString(),
                                       QStringLiteral("On Air.ts"));
    running.title = QStringLiteral("On Air");
    Recording finished = onAirRecording(QStringLiteral("http://127.0.0.1:9/live/u/p/2.ts"),
                                        QStringLiteral("Yesterday's Film.ts"), -86400);
    finished.title = QStringLiteral("Yesterday’s Film");
    finished.programStart = finished.startDate = finished.endDate.addSecs(-7200);
    finished.status = Recording::Status::Finished;
    const QByteArray content = FakeProvider::content(0, 3 * 188 * 1000);
    testsupport::writeFile(recorder.filePath(finished.fileName), content);
    finished.bytes = content.size();
    finished.reconnects = 2;
    finished.secondsMissing = 14;
    recorder.writeIndex({running, finished});
    ASSERT_TRUE(recorder.start(true));

    // The one start line tells where the page is and where recordings go.
    const QByteArray output = recorder.output();
    EXPECT_TRUE(output.contains(":" + QByteArray::number(port) + "/")) << output.constData();
    EXPECT_TRUE(output.contains(recorder.folder().toUtf8())) << output.constData();

    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    // Debian's own Python, where python3-selenium is installed.
    browser.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(TIVOLUX_PAGE_TEST_SCRIPT), QStringLiteral("http://127.0.0.1:%1/").arg(port),
                   idText(running), idText(finished), recorder.filePath(finished.fileName)});
    ASSERT_TRUE(browser.waitForStarted()) << "python3 could not start";
    // The provider and the recorder keep working while the browser drives them.
    ASSERT_TRUE(testsupport::waitUntil([&] { return browser.state() == QProcess::NotRunning; }, 120s));
    const QByteArray said = browser.readAll();
    EXPECT_EQ(browser.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(browser.exitCode(), 0) << said.constData();
    EXPECT_TRUE(said.contains("page test passed")) << said.constData();

    const auto index = recorder.readIndex();
    ASSERT_TRUE(index);
    ASSERT_EQ(index->size(), 1);
    EXPECT_EQ(index->first().id, running.id);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped);
}
