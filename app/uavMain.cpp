#include "uavMain.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Vantorix UAV Control"));
    resize(801, 632);
}

TForm1::~TForm1() = default;
