#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QWidget>

#include "RunPhaseScreenshots.h"

// Drives the run-phase scenes into <build>/screenshots/ (scripts/demo --screenshots).
TEST(ScreenshotRunPhases, RunOfThirtyTwoCamerasWritingRestartingAndSummarised) {
    screenshots::RunPhaseScenes(
        [](const QString& name, QWidget* widget) {
            ASSERT_TRUE(QDir().mkpath(FLASHWRIGHT_SCREENSHOT_DIR));
            const QString path = QString(FLASHWRIGHT_SCREENSHOT_DIR) + "/" + name;
            const QImage image = widget->grab().toImage();
            ASSERT_FALSE(image.isNull());
            EXPECT_TRUE(image.save(path)) << path.toStdString();
        },
        [](const std::string& reason) { ADD_FAILURE() << reason; });
}
