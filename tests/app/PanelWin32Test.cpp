// The panel on Windows' own COM ports: a number with nothing behind it is reported in the "Error" box with
// Windows' own text, and the panel goes on.
#include "Application.h"
#include "RecordedBoxes.h"
#include "Serial2.h"
#include "SystemError.h"
#include "uavMain.h"

#include <windows.h>

#include <QApplication>
#include <gtest/gtest.h>

TEST(PanelOnWindows, comNumberWithNoPortBehindIt_givesTheErrorBoxWithWindowsText_andThePanelGoesOn) {
    TApplication app(*qApp);
    RecordedBoxes boxes;
    app.SetMessageBoxService(&boxes);
    {
        TForm1 form;
        for (int attempt = 0; attempt < 2; ++attempt) {
            boxes.boxes.clear();
            form.edCommPort->setText(QStringLiteral("200"));
            form.BitBtn6->click();
            ASSERT_EQ(boxes.boxes.size(), 1u) << "attempt " << attempt;
            EXPECT_EQ(boxes.boxes[0].caption, "Error");
            EXPECT_EQ(boxes.boxes[0].text, QString::fromStdString(SystemErrorText(ERROR_FILE_NOT_FOUND)));
            EXPECT_FALSE(form.SerialComm->Active());
            // Connected in name, as with any port that fails to open: Disconnect takes it back.
            EXPECT_EQ(form.BitBtn6->Tag(), 1);
            form.BitBtn6->click();
            EXPECT_EQ(form.BitBtn6->Tag(), 0);
        }
    }
    app.SetMessageBoxService(nullptr);
}
