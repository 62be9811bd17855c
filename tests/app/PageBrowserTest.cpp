#include "RecorderTest.h"

// The web page in Debian's Chromium, headless, against the real headless
// program and a local provider; the browser part is page/page_test.py. A
// browser that cannot start fails the test.
using PageInBrowser = RecorderTest;

TEST_F(PageInBrowser, ListsStopsDeletesAndDownloads)
{
    Recording running = onAirRecording(serveLive(18800, 200), QStringLiteral("On Air.ts"));
    Recording finished = onAirRecording(QStringLiteral("http://127.0.0.1:9/2.ts"), QStringLiteral("Yesterday's Film.ts"), -86400);
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
    const QByteArray line = ":" + QByteArray::number(recorder.port()) + "/, recordings in " + recorder.folder().toUtf8();
    EXPECT_TRUE(testsupport::waitUntil([&] { return recorder.output().contains(line); })) << recorder.output().constData();

    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    const auto idText = [](const Recording &r) { return r.id.toString(QUuid::WithoutBraces).toUpper(); };
    // Debian's own Python, where python3-selenium is installed.
    browser.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral(TIVOLUX_PAGE_TEST_SCRIPT), QStringLiteral("http://127.0.0.1:%1/").arg(recorder.port()),
                   idText(running), idText(finished), recorder.filePath(finished.fileName)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return browser.state() == QProcess::NotRunning; }, std::chrono::seconds(120)));
    const QByteArray said = browser.readAll();
    EXPECT_EQ(browser.exitCode(), 0) << said.constData();
    EXPECT_TRUE(said.contains("page test passed")) << said.constData();
    const auto index = recorder.readIndex();
    ASSERT_TRUE(index && index->size() == 1);
    EXPECT_EQ(index->first().id, running.id);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped);
}
