#include "About.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "MyAppLibs.h"

TEST(AboutForm, ShowsVersionAndClockAndClosesOnAnyKeyOrClick) {
    TAboutForm about;
    about.show();
    EXPECT_EQ(about.lbVersion->text(), "Version 1.54");
    // No blank between the words and the number.
    EXPECT_EQ(about.lbCPUSpeed->text().toStdString(), "The CPU speed is" + GetCpuSpeedText());
    QTest::keyClick(&about, Qt::Key_A);
    EXPECT_FALSE(about.isVisible());
    about.show();
    // A click on a label reaches the window too.
    QTest::mouseClick(about.lbVersion, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}
