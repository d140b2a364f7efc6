// Runs the real program on a virtual X server and drives it as a person
// would: the File menu, the picture dialog, the check box; then reads the
// screen.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include <System.h>

#include "ExtDlgs.h"
#include "QtTestMain.h"

namespace {

constexpr int kClientHeight = 515;

bool IsGrey(QRgb pixel) { return (pixel & 0xFFFFFF) == 0x808080; }

struct TShot {
    QImage image;
    QRect panel;   // where the panel lies on the screen
    QRect square;  // the drawn square inside it
};

class VirtualDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "import"})
            ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
                << tool << " is not installed (scripts/deps xvfb installs it)";
        ASSERT_TRUE(folder_.isValid());
        StartServer();
        ASSERT_FALSE(display_.isEmpty()) << "Xvfb did not start";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display_);
        env.insert("QT_QPA_PLATFORM", "xcb");
        program_.setProcessEnvironment(env);
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
    }

    void TearDown() override {
        for (QProcess* process : {&program_, &server_}) {
            if (process->state() == QProcess::NotRunning) continue;
            process->terminate();
            if (!process->waitForFinished(3000)) process->kill();
            process->waitForFinished(1000);
        }
    }

    // Xvfb picks a free display itself and writes its number to the
    // descriptor given, so tests running side by side never share one.
    void StartServer() {
        server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!server_.waitForStarted(3000)) return;
        QByteArray number;
        for (int i = 0; i < 50 && !number.endsWith('\n'); ++i) {
            server_.waitForReadyRead(100);
            number += server_.readAllStandardOutput();
        }
        if (!number.trimmed().isEmpty()) display_ = ":" + QString::fromLatin1(number.trimmed());
    }

    // Runs a tool on the virtual display; answers its standard output.
    QString Run(const QString& tool, const QStringList& arguments, bool mustSucceed = true) {
        QProcess process;
        process.setProcessEnvironment(program_.processEnvironment());
        process.start(tool, arguments);
        EXPECT_TRUE(process.waitForFinished(15000)) << tool.toStdString();
        if (mustSucceed) {
            EXPECT_EQ(process.exitCode(), 0) << tool.toStdString() << " " << arguments.join(' ').toStdString();
        }
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }
    void Xdotool(const QStringList& arguments) { Run("xdotool", arguments); }

    QRect WindowGeometry() { return WindowGeometry(window_); }
    QRect WindowGeometry(const QString& window) {
        QRect geometry;
        for (const QString& line : Run("xdotool", {"getwindowgeometry", "--shell", window}).split('\n')) {
            const int value = line.section('=', 1).toInt();
            if (line.startsWith("X=")) geometry.moveLeft(value);
            if (line.startsWith("Y=")) geometry.moveTop(value);
            if (line.startsWith("WIDTH=")) geometry.setWidth(value);
            if (line.startsWith("HEIGHT=")) geometry.setHeight(value);
        }
        return geometry;
    }

    // The panel sits 8 pixels in and 48 down in the client area, which
    // fills the window under its menu bar.
    QRect PanelGeometry() {
        const QRect window = WindowGeometry();
        const int clientTop = window.bottom() + 1 - kClientHeight;
        return QRect(window.left() + 8, clientTop + 48, 577, 449);
    }

    void Focus() {
        Xdotool({"windowfocus", "--sync", window_});
        QTest::qWait(700);  // a few hundred frames; the last one is shown
    }

    // Waits up to five seconds for a visible window named name (or for
    // none when shown is false).
    bool WaitForWindow(const QString& name, bool shown) {
        for (int i = 0; i < 20; ++i) {
            if (Run("xdotool", {"search", "--onlyvisible", "--name", name}, false).isEmpty() != shown) return true;
            QTest::qWait(250);
        }
        return false;
    }

    // Opens the picture dialog through the File menu (item 1 or 2). A busy
    // machine may drop the menu's first click, so the menu is tried again.
    void ShowDialogThroughMenu(int item) {
        bool shown = false;
        for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
            Focus();
            const QRect window = WindowGeometry();
            Xdotool({"mousemove", QString::number(window.x() + 14), QString::number(window.y() + 8), "click", "1"});
            QTest::qWait(500);
            for (int i = 0; i < item; ++i) Xdotool({"key", "Down"});
            Xdotool({"key", "Return"});
            shown = WaitForWindow("^Open$", true);
            if (!shown) Xdotool({"key", "Escape"});
        }
        ASSERT_TRUE(shown) << "the picture dialog did not open";
        QTest::qWait(300);
    }

    // Opens the dialog and types the file's name, as a person would.
    void OpenThroughMenu(int item, const QString& fileName) {
        ASSERT_NO_FATAL_FAILURE(ShowDialogThroughMenu(item));
        Xdotool({"type", "--delay", "5", fileName});
        QTest::qWait(300);
        Xdotool({"key", "Return"});
        ASSERT_TRUE(WaitForWindow("^Open$", false)) << "the dialog did not take the file";
    }

    QImage ScreenImage(const QString& name) {
        const QString path = folder_.filePath(name);
        Run("import", {"-window", "root", path});
        return QImage(path).convertToFormat(QImage::Format_RGB32);
    }

    TShot Screenshot(const QString& name) {
        TShot shot{ScreenImage(name), PanelGeometry(), {}};
        // The square is what is not the grey clear colour inside the panel.
        int left = shot.panel.right(), top = shot.panel.bottom(), right = -1, bottom = -1;
        for (int y = shot.panel.top(); y <= shot.panel.bottom(); ++y)
            for (int x = shot.panel.left(); x <= shot.panel.right(); ++x)
                if (!IsGrey(shot.image.pixel(x, y))) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        shot.square = QRect(QPoint(left, top), QPoint(right, bottom));
        return shot;
    }

    QTemporaryDir folder_;
    QProcess server_, program_;
    QString display_, window_;
};

// Where image shows whole and unchanged on the screen, or a null point.
std::optional<QPoint> Find(const QImage& screen, const QImage& image) {
    for (int y = 0; y + image.height() <= screen.height(); ++y)
        for (int x = 0; x + image.width() <= screen.width(); ++x) {
            bool same = true;
            for (int row = 0; row < image.height() && same; ++row)
                same = std::equal(image.constScanLine(row), image.constScanLine(row) + 4 * image.width(),
                                  screen.constScanLine(y + row) + 4 * x,
                                  [](uint8_t a, uint8_t b) { return a == b; });
            if (same) return QPoint(x, y);
        }
    return std::nullopt;
}

QColor ScreenColorAt(const TShot& shot, double u, double v) {
    const QRect& s = shot.square;
    return QColor(shot.image.pixel(s.left() + int(u * s.width()), s.top() + int(v * s.height())));
}

// The program under test: the one built beside this test, or an installed
// copy named by DOT3_PROGRAM. An installed copy's dialog opens on its sample
// textures, so their bare names pick them.
QString ProgramUnderTest() {
    const QString installed = qEnvironmentVariable("DOT3_PROGRAM");
    return installed.isEmpty() ? QCoreApplication::applicationDirPath() + "/dot3demo" : installed;
}
QString SampleName(const QString& name) {
    return qEnvironmentVariableIsSet("DOT3_PROGRAM") ? name : QStringLiteral(DOT3_ASSETS "/") + name;
}

TEST_F(VirtualDisplay, LoadsTheSamplesAndDrawsTheSquareWithAndWithoutBumps) {
    const QString assets = DOT3_ASSETS;
    const QImage base = QImage(assets + "/bricks.bmp").convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(base.isNull());

    program_.start(ProgramUnderTest(), {});
    ASSERT_TRUE(program_.waitForStarted(5000));
    window_ = Run("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Form1$"}).section('\n', 0, 0);
    ASSERT_FALSE(window_.isEmpty());
    Focus();

    // The dialog fits the 1024 x 768 screen and previews the picture named.
    ASSERT_NO_FATAL_FAILURE(ShowDialogThroughMenu(1));
    Xdotool({"type", "--delay", "5", SampleName("bricks.bmp")});
    QTest::qWait(1000);
    const QString dialog = Run("xdotool", {"search", "--onlyvisible", "--name", "^Open$"}).section('\n', 0, 0);
    const QRect dialogGeometry = WindowGeometry(dialog);
    EXPECT_EQ(dialogGeometry.size(), QSize(640, 400));
    EXPECT_TRUE(QRect(0, 0, 1024, 768).contains(dialogGeometry));
    int width = 0, height = 0;
    const QImage preview = PreviewImage(assets + "/bricks.bmp", 160, 160, width, height).convertToFormat(QImage::Format_RGB32);
    const std::optional<QPoint> shown = Find(ScreenImage("dialog.png"), preview);
    ASSERT_TRUE(shown.has_value()) << "no preview of the sample on the screen";
    EXPECT_TRUE(dialogGeometry.contains(QRect(*shown, preview.size())));
    Xdotool({"key", "Return"});
    ASSERT_TRUE(WaitForWindow("^Open$", false)) << "the dialog did not take the file";
    ASSERT_NO_FATAL_FAILURE(OpenThroughMenu(2, SampleName("bricks_normal.bmp")));
    Focus();
    const TShot flat = Screenshot("flat.png");

    // The panel: grey all round a centred square.
    ASSERT_TRUE(flat.panel.contains(flat.square));
    for (int x = flat.panel.left(); x <= flat.panel.right(); ++x)
        ASSERT_TRUE(IsGrey(flat.image.pixel(x, flat.panel.top())) && IsGrey(flat.image.pixel(x, flat.panel.bottom())));
    for (int y = flat.panel.top(); y <= flat.panel.bottom(); ++y)
        ASSERT_TRUE(IsGrey(flat.image.pixel(flat.panel.left(), y)) && IsGrey(flat.image.pixel(flat.panel.right(), y)));
    EXPECT_NEAR(flat.square.center().x(), flat.panel.center().x(), 2);
    EXPECT_NEAR(flat.square.center().y(), flat.panel.center().y(), 2);
    EXPECT_GT(flat.square.width(), 300);

    // Bump mapping off: the base texture itself (5-bit texels, filtered),
    // sampled in the middle of a few bricks and in a joint.
    const std::pair<int, int> texels[] = {{32, 16}, {64, 48}, {160, 80}, {128, 112}, {224, 208}, {100, 1}};
    for (const auto& [tx, ty] : texels) {
        const QColor expected(base.pixel(tx, ty));
        const QColor seen = ScreenColorAt(flat, (tx + 0.5) / base.width(), (ty + 0.5) / base.height());
        EXPECT_NEAR(seen.red(), expected.red(), 24) << tx << "," << ty;
        EXPECT_NEAR(seen.green(), expected.green(), 24) << tx << "," << ty;
        EXPECT_NEAR(seen.blue(), expected.blue(), 24) << tx << "," << ty;
    }

    // Bump mapping on: the check box sits 8 pixels right of the panel's
    // left edge and 30 above its top.
    Xdotool({"mousemove", QString::number(flat.panel.left() + 14), QString::number(flat.panel.top() - 22), "click", "1"});
    Focus();
    const TShot lit = Screenshot("lit.png");
    ASSERT_EQ(lit.square, flat.square);
    int changed = 0;
    for (int y = flat.square.top(); y <= flat.square.bottom(); ++y)
        for (int x = flat.square.left(); x <= flat.square.right(); ++x) {
            const QColor a(flat.image.pixel(x, y)), b(lit.image.pixel(x, y));
            if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 24)
                ++changed;
        }
    const int area = flat.square.width() * flat.square.height();
    EXPECT_GT(changed, area / 20) << changed << " of " << area << " pixels changed";
    EXPECT_TRUE(IsGrey(lit.image.pixel(lit.panel.topLeft())));

    // The program keeps no settings, not even of the picture dialog it used.
    const QDir configuration(qEnvironmentVariable("XDG_CONFIG_HOME"));
    EXPECT_TRUE(configuration.isEmpty()) << configuration.entryList().join(' ').toStdString();

    Xdotool({"windowclose", window_});
}

TEST_F(VirtualDisplay, WithoutTheDeviceModuleTheProgramSaysSoAndEnds) {
    // The program and the libraries it is linked with, but not the device.
    const QString bin = QCoreApplication::applicationDirPath();
    for (const char* file : {"dot3demo", "libwin32.so", "libd3dx8.so"})
        ASSERT_TRUE(QFile::copy(bin + "/" + file, folder_.filePath(file))) << file;
    ASSERT_FALSE(QFile::exists(folder_.filePath("libd3d8.so")));

    program_.start(folder_.filePath("dot3demo"), {});
    ASSERT_TRUE(program_.waitForStarted(5000));
    ASSERT_TRUE(WaitForWindow("^dot3demo$", true)) << "no message box";
    EXPECT_TRUE(Run("xdotool", {"search", "--onlyvisible", "--name", "^Form1$"}, false).isEmpty());
    const QString box = Run("xdotool", {"search", "--onlyvisible", "--name", "^dot3demo$"}).section('\n', 0, 0);
    Xdotool({"windowfocus", "--sync", box});
    Xdotool({"key", "Return"});
    ASSERT_TRUE(program_.waitForFinished(5000));
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 1) << "a launcher sees the failure";
}

}  // namespace

DOT3_QT_TEST_MAIN([] { InitializeUnit("Graphics", InitializeFrameworkGraphics, nullptr); })
