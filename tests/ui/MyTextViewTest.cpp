// The text report window: where it opens.
#include "MyTextView.h"

#include <QCoreApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

// Opened from a main window that sits off the middle of the screen, the report still comes up
// centred on the screen, not over its owner.
TEST(TextView, OpensCentredOnTheScreen) {
    QWidget owner;
    owner.setGeometry(10, 10, 200, 150);
    owner.show();
    TTextView view(&owner);
    view.show();
    QCoreApplication::processEvents();
    const QPoint centre = view.screen()->availableGeometry().center();
    EXPECT_LE((view.frameGeometry().center() - centre).manhattanLength(), 2);
    EXPECT_GT((view.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(),
              2);
}
