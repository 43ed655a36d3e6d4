#pragma once
// The real main window, offscreen, with an application object whose message boxes are recorded, and the
// transponder's end of a real pseudo-terminal linked as COM7 in a private port-map folder.
#include "Application.h"
#include "KxLED.h"
#include "RecordedBoxes.h"
#include "RunUntil.h"
#include "Serial2.h"
#include "TestSupport.h"
#include "Timer.h"
#include "uavMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

class PanelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<TApplication>(*qApp);
        app->SetMessageBoxService(&boxes);
        ports = std::make_unique<uavtest::PortMap>("panel");
        mapDir = ports->Dir();
        line = std::make_unique<uavtest::LinkedPty>(mapDir, 7);
        ASSERT_TRUE(line->Ok());
        master = line->Master();
        form = std::make_unique<TForm1>();
    }
    void TearDown() override {
        form.reset();
        app->SetMessageBoxService(nullptr);
        app.reset();
        line.reset();
        ports.reset();
    }

    void Connect(const QString& port = QStringLiteral("7")) {
        form->edCommPort->setText(port);
        form->BitBtn6->click();
    }
    // Everything the transponder's end has received so far (waits briefly for `atLeast` bytes).
    std::string Sent(std::size_t atLeast = 0, int limitMs = 3000) {
        RunUntil(
            [&] {
                received += line->ReadAvailable();
                return received.size() >= atLeast;
            },
            limitMs);
        std::string out;
        out.swap(received);
        return out;
    }
    // The transponder answers; returns once the panel has decoded everything pending.
    void Reply(const std::string& bytes, std::size_t messages = 1) {
        ASSERT_TRUE(line->Write(bytes));
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
    std::unique_ptr<uavtest::PortMap> ports;
    std::unique_ptr<uavtest::LinkedPty> line;
    int master = -1; // the transponder's end of `line`
    std::filesystem::path mapDir;
    std::string received;
    std::size_t delivered = 0;
    std::size_t decodedTarget = 0;
};
