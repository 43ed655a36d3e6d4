// A bare Qt Widgets window of the panel's size, built with the same Qt: what the panel's start-up and memory
// are measured against (bench/windows-panel). It opens and waits until it is closed.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare Qt Widgets"));
    window.resize(793, 597);
    window.show();
    return app.exec();
}
