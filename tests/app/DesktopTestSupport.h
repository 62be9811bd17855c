#pragma once

#include "AppServices.h"
#include "DesktopAppDelegate.h"
#include "ElidingLabel.h"
#include "FakeProvider.h"
#include "FakeRegistration.h"
#include "FileManager.h"
#include "MainWindowController.h"
#include "ManagerTestSupport.h"
#include "RecordingServer.h"
#include "WakeScheduler.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>

// The desktop's file manager: remembers what it was asked to show.
class FakeFileManager : public FileManager
{
public:
    void revealFile(const QString &filePath) override { revealed << filePath; }
    void openFolder(const QString &folderPath) override { opened << folderPath; }

    QStringList revealed;
    QStringList opened;
};

// A real manager on a temporary folder, a real server on a free port of
// 127.0.0.1, a wake scheduler on a fake registration, and a local provider
// for recordings that really run.
class DesktopTest : public ManagerTest
{
protected:
    void SetUp() override
    {
        ManagerTest::SetUp();
        WakeScheduler::Environment wake;
        wake.registration = registration;
        scheduler = std::make_unique<WakeScheduler>(std::move(wake));
        provider.serve(QStringLiteral("/live.ts"), FakeProvider::Answer::slowStream(1880, std::chrono::milliseconds(20)));
    }

    void TearDown() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox *>(widget))
                delete widget;
        }
        controller.reset();
        server.reset();
        ManagerTest::TearDown();
        scheduler.reset();
    }

    AppServices startServices()
    {
        makeManager([this](RecordingManager::Environment &environment) {
            environment.wakeScheduler = scheduler.get();
            environment.timing.schedulePeriod = std::chrono::milliseconds(50);
        });
        RecordingServer::Configuration configuration;
        configuration.address = QHostAddress(QHostAddress::LocalHost);
        configuration.port = 0;
        configuration.manager = manager.get();
        server = std::make_unique<RecordingServer>(configuration);
        return AppServices{manager.get(), server.get(), scheduler.get(), nullptr, files};
    }

    void openWindow()
    {
        controller = std::make_unique<MainWindowController>(startServices());
        controller->showWindow();
    }

    // The application launched; ending the process is counted in terminations.
    std::unique_ptr<DesktopAppDelegate> launch(DesktopAppDelegate::Options options = {})
    {
        options.terminate = [this] { ++terminations; };
        auto delegate = std::make_unique<DesktopAppDelegate>(startServices(), options);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    // The window's open question, if any.
    QMessageBox *sheet() const
    {
        for (QMessageBox *box : controller->window()->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                return box;
        }
        return nullptr;
    }

    static void press(QMessageBox *box, QMessageBox::ButtonRole role)
    {
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == role)
                button->click();
        }
    }

    Recording finished(const QString &name) const
    {
        Recording r = due(QStringLiteral("http://127.0.0.1:1/x.ts"), name + QStringLiteral(".ts"), std::chrono::hours(1));
        r.status = Recording::Status::Finished;
        return r;
    }

    // Schedules a recording that is due now and waits until it captures.
    Recording startRecording(const QString &channelID)
    {
        const Recording r = value(manager->schedule(onAir(provider.url(QStringLiteral("/live.ts")).toString(), channelID)));
        EXPECT_TRUE(testsupport::waitUntil(
            [&] { return statusOf(r.id) == Status::Recording && manager->recording(r.id)->bytes > 0; }));
        return r;
    }

    Recording scheduleLater(const QString &channelID)
    {
        return value(manager->schedule(request(QStringLiteral("http://127.0.0.1:1/later.ts"), now().addDays(1),
                                               now().addDays(1).addSecs(3600), channelID)));
    }

    std::shared_ptr<FakeRegistration> registration = std::make_shared<FakeRegistration>();
    std::unique_ptr<WakeScheduler> scheduler;
    std::unique_ptr<RecordingServer> server;
    std::shared_ptr<FakeFileManager> files = std::make_shared<FakeFileManager>();
    FakeProvider provider;
    std::unique_ptr<MainWindowController> controller;
    int terminations = 0;
};
