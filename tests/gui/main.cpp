#include <QApplication>

#include <gtest/gtest.h>

// Widget tests own a QApplication on the offscreen platform, so they run
// without a display; CORVANTA_GUI_PLATFORM picks another (xcb) to watch them.
int main(int argc, char** argv)
{
    const QByteArray platform = qgetenv("CORVANTA_GUI_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
