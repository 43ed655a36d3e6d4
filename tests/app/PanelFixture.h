#pragma once
// The real main window, offscreen, with an application object whose message boxes are recorded, and the
// transponder's end of a real pseudo-terminal linked as COM7 in a private port-map folder.
#include "Application.h"
#include "KxLED.h"
#include "RecordedBoxes.h"
#include "RunUntil.h"
#include "Serial2.h"
#include "Timer.h"
#include "uavMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

class PanelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        app = std::make_unique<TApplication>(*qApp);
        app->SetMessageBoxService(&boxes);
        char name[128] = {};
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        close(slave);
        fcntl(master, F_SETFL, O_NONBLOCK);
        mapDir = fs::temp_directory_path() / ("uav-panel-" + std::to_string(getpid()));
        fs::remove_all(mapDir);
        fs::create_directories(mapDir);
        fs::create_symlink(name, mapDir / "com7");
        setenv("UAVCONTROL_PORTS", mapDir.c_str(), 1);
        form = std::make_unique<TForm1>();
    }
    void TearDown() override {
        form.reset();
        app->SetMessageBoxService(nullptr);
        app.reset();
        if (master >= 0)
            close(master);
        std::filesystem::remove_all(mapDir);
        unsetenv("UAVCONTROL_PORTS");
    }

    void Connect(const QString& port = QStringLiteral("7")) {
        form->edCommPort->setText(port);
        form->BitBtn6->click();
    }
    // Everything the transponder's end has received so far (waits briefly for `atLeast` bytes).
    std::string Sent(std::size_t atLeast = 0, int limitMs = 3000) {
        RunUntil(
            [&] {
                char buf[4096];
                ssize_t n;
                while ((n = read(master, buf, sizeof buf)) > 0)
                    received.append(buf, static_cast<std::size_t>(n));
                return received.size() >= atLeast;
            },
            limitMs);
        std::string out;
        out.swap(received);
        return out;
    }
    // The transponder answers; returns once the panel has decoded everything pending.
    void Reply(const std::string& bytes, std::size_t messages = 1) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        decodedTarget += messages;
        ASSERT_TRUE(RunUntil([&] { return Delivered() >= decodedTarget && form->rxMsg.empty(); }));
    }
    // Messages delivered by the port so far, counted through the window's own handler.
    std::size_t Delivered() const { return delivered; }
    void CountDeliveries() {
        form->SerialComm->SetOnMessage([this](TObject* sender, const std::string& message) {
            ++delivered;
            form->SerialCommMessage(sender, message);
        });
    }

    static std::string F(const std::string& body) { return "\x02" + body + "\x03"; }
    QString Caption(const char* label) const {
        auto* l = form->findChild<TLabel*>(QString::fromLatin1(label));
        return l ? l->Caption() : QStringLiteral("<missing>");
    }

    std::unique_ptr<TApplication> app;
    RecordedBoxes boxes;
    std::unique_ptr<TForm1> form;
    int master = -1;
    std::filesystem::path mapDir;
    std::string received;
    std::size_t delivered = 0;
    std::size_t decodedTarget = 0;
};
