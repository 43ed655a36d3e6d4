#pragma once
// TForm1, the panel's main window.
#include <QMainWindow>

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;
};

extern TForm1* Form1;
