#include "MyTextView.h"
#include <QPlainTextEdit>

#include <gtest/gtest.h>

TEST(TextView, KeepsLinesIncludingEmptyOnesUntilCleared) {
    TTextView view;
    view.AddLine("");
    view.AddLine("chunk 1: 4096 bytes");
    view.AddLine("ünïcode");
    EXPECT_EQ(view.Lines(), (QStringList{"", "chunk 1: 4096 bytes", "ünïcode"}));
    view.Clear();
    EXPECT_TRUE(view.Lines().isEmpty());
    EXPECT_TRUE(view.Memo1->isReadOnly());
}
