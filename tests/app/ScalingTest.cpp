// The window on scaled screens: captions in the window font grow with the scale factor as at 1x, also after
// the window moves to a screen of another ratio. Screens and scale factor are read once, when the
// application object is made, so each case runs in a child process: the same test, run again with the
// settings in its environment.
#include "uavMain.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char* const kProbeVariable = "UAV_SCALE_PROBE";

// Height in device pixels of the rows of `image` that hold a dark pixel (text is drawn in black).
int InkHeight(const QImage& image) {
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 96) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
    return top < 0 ? 0 : bottom - top + 1;
}

// Runs the current test again in a child with `env` added; returns the ink height it printed, or -1.
int ChildInkHeight(const QProcessEnvironment& extra) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The child's screens are the test's alone, whatever the desktop running the tests is scaled to.
    for (const char* name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(extra);
    child.setProcessEnvironment(env);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=%1.%2")
                     .arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()))});
    if (!child.waitForFinished(30000) || child.exitCode() != 0) {
        ADD_FAILURE() << child.readAllStandardOutput().toStdString()
                      << child.readAllStandardError().toStdString();
        return -1;
    }
    const auto match = QRegularExpression(QStringLiteral("ink height (\\d+)"))
                           .match(QString::fromLatin1(child.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QProcessEnvironment Probe(const char* mode, const QString& name, const QString& value,
                          const QProcessEnvironment& more = {}) {
    QProcessEnvironment env = more;
    env.insert(QString::fromLatin1(kProbeVariable), QString::fromLatin1(mode));
    env.insert(name, value);
    return env;
}

// In a child: shows the window, on the last screen when asked to move it there, and prints the ink height of
// a caption in the window font. "Standby" rises to a capital and descends below the line.
void PrintCaptionInk() {
    TForm1 form;
    form.show();
    if (qEnvironmentVariable(kProbeVariable) == QLatin1String("move")) {
        const QRect target = QGuiApplication::screens().constLast()->geometry();
        form.move(target.topLeft() + QPoint(20, 20));
        QCoreApplication::processEvents();
        ASSERT_EQ(form.screen(), QGuiApplication::screens().constLast());
    }
    QRadioButton* caption = nullptr;
    for (auto* button : form.findChildren<QRadioButton*>())
        if (button->text() == QLatin1String("Standby"))
            caption = button;
    ASSERT_NE(caption, nullptr);
    std::printf("ink height %d\n", InkHeight(caption->grab().toImage()));
}

// The scalable stand-in inks about a tenth shorter than the bitmap strike of the same pixel size; a 1x
// strike spread over a scaled window falls short by a fifth at 1.25 and by half at 2.
constexpr double kTolerance = 0.15;

TEST(ScaledWindow, CaptionInkGrowsWithTheScaleFactor) {
    if (qEnvironmentVariableIsSet(kProbeVariable))
        return PrintCaptionInk();
    const QString factor = QStringLiteral("QT_SCALE_FACTOR");
    const int base = ChildInkHeight(Probe("show", factor, QStringLiteral("1")));
    ASSERT_GE(base, 9) << "the caption's ink at 1x";
    for (const double scale : {1.25, 1.5, 2.0}) {
        const double expected = base * scale;
        EXPECT_NEAR(ChildInkHeight(Probe("show", factor, QString::number(scale))), expected,
                    expected * kTolerance)
            << "at scale " << scale;
    }
}

TEST(ScaledWindow, MovedToAScreenAtTwice_CaptionInkDoubles) {
    if (qEnvironmentVariableIsSet(kProbeVariable))
        return PrintCaptionInk();
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("screens.json")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(R"({"screens": [
        {"name": "one", "x": 0, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96},
        {"name": "two", "x": 1024, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96}]})");
    config.close();
    // The second screen at twice the ratio as a desktop scales it: through Qt's factor for that screen.
    // (A ratio in the configuration is the screen's alone; Qt 6.8's offscreen windows do not take it on.)
    QProcessEnvironment twice;
    twice.insert(QStringLiteral("QT_SCREEN_SCALE_FACTORS"), QStringLiteral("one=1;two=2"));
    const QString platform = QStringLiteral("QT_QPA_PLATFORM");
    const QString screens = QStringLiteral("offscreen:configfile=") + config.fileName();
    const int base = ChildInkHeight(Probe("show", platform, screens, twice));
    ASSERT_GE(base, 9) << "the caption's ink on the first screen";
    EXPECT_NEAR(ChildInkHeight(Probe("move", platform, screens, twice)), 2 * base, 2 * base * kTolerance);
}

} // namespace
