#include "MyTimeData.h"

#include <gtest/gtest.h>

namespace {

TTimeData* MakeCurve(TTimeDataSet& set, uint8_t mode, uint8_t kind, const char* caption = "c") {
    TTimeData* c = set.AddFromTemplate(
        {"{key-" + std::to_string(set.GetCount()) + "}", caption, mode, kind, 0});
    c->SetEnabled(true);
    return c;
}

} // namespace

TEST(TimeDataLevel, BetweenAtAndAfterPoints) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmLevel, ckLevel);
    c->GetPoint(0)->SetLevel(0);
    c->AddNew(2.0L)->SetLevel(1.0L);
    EXPECT_FALSE(c->UpdateCurrentPoint(0.5L));
    EXPECT_NEAR(c->CurrentPoint.GetLevel(), 0.25L, 1.0 / 65535);
    EXPECT_EQ(c->CurrentPoint.Time, 0.5L);
    EXPECT_FALSE(c->UpdateCurrentPoint(0.0L));
    EXPECT_EQ(c->CurrentPoint.Value, 0);
    EXPECT_TRUE(c->UpdateCurrentPoint(2.0L));
    EXPECT_EQ(c->CurrentPoint.Value, 65535);
    EXPECT_TRUE(c->UpdateCurrentPoint(3.0L));
    EXPECT_EQ(c->CurrentPoint.Value, 65535);
    EXPECT_EQ(c->CurrentPoint.Time, 2.0L); // the held value keeps the last key's time
    // Before the first key the line is extended.
    c->GetPoint(0)->Time = 1.0L;
    c->GetPoint(0)->SetLevel(0.5L);
    c->UpdateCurrentPoint(0.0L);
    EXPECT_NEAR(c->CurrentPoint.GetLevel(), 0.0L, 1.0 / 65535);
}

TEST(TimeDataPosition, RoundTripAndLimits) {
    TDataPoint p;
    Extended x, y;
    p.SetPosition(0.5L, -0.25L);
    p.GetPosition(x, y);
    EXPECT_NEAR(x, 0.5L, 10.0 / 65535);
    EXPECT_NEAR(y, -0.25L, 10.0 / 65535);
    // 5.0 x 65535 / 10 rounds to 32768, which must clamp, not wrap to -32768.
    p.SetPosition(5.0L, -5.0L);
    p.GetPosition(x, y);
    EXPECT_NEAR(x, 5.0L, 10.0 / 65535);
    EXPECT_NEAR(y, -5.0L, 10.0 / 65535);
    EXPECT_GT(x, 0);
    p.SetPosition(100.0L, -100.0L);
    p.GetPosition(x, y);
    EXPECT_GT(x, 4.99L);
    EXPECT_LT(y, -4.99L);
}

TEST(TimeDataPosition, BlendsXAndYSeparately) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmPosition, ckPosition);
    c->GetPoint(0)->SetPosition(-1.0L, 1.0L);
    c->AddNew(1.0L)->SetPosition(1.0L, -1.0L);
    c->UpdateCurrentPoint(0.25L);
    Extended x, y;
    c->CurrentPoint.GetPosition(x, y);
    EXPECT_NEAR(x, -0.5L, 2 * 10.0 / 65535);
    EXPECT_NEAR(y, 0.5L, 2 * 10.0 / 65535);
}

TEST(TimeDataColor, BlendsChannelsSeparately) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmColor, ckColor);
    c->GetPoint(0)->SetRawValue(0x0000FF);  // red
    c->AddNew(1.0L)->SetRawValue(0xFFFFFF); // white
    c->UpdateCurrentPoint(0.5L);
    // Half way from red to white is light red: R stays 255, G and B half.
    EXPECT_EQ(c->CurrentPoint.GetRawValue(), 0x808000 | 0xFF);
    // A key inserted between them blends the same way.
    TDataPoint* mid = c->AddNew(0.5L);
    EXPECT_EQ(mid->GetRawValue(), 0x8080FF);
}

TEST(TimeDataText, LatestVisiblePointGivesTextAndFont) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmText, ckText);
    c->GetPoint(0)->Lines = {"first"};
    c->GetPoint(0)->Font.Size = 20;
    TDataPoint* hidden = c->AddNew(1.0L);
    hidden->Lines = {"hidden"};
    hidden->Visible = false;
    TDataPoint* third = c->AddNew(2.0L);
    third->Lines = {"third"};
    c->UpdateCurrentPoint(1.5L);
    EXPECT_EQ(c->CurrentPoint.Lines, std::vector<std::string>{"first"});
    EXPECT_EQ(c->CurrentPoint.Font.Size, 20);
    c->UpdateCurrentPoint(2.5L);
    EXPECT_EQ(c->CurrentPoint.Lines, std::vector<std::string>{"third"});
    // With the last key hidden, its text never shows.
    third->Visible = false;
    c->UpdateCurrentPoint(2.5L);
    EXPECT_EQ(c->CurrentPoint.Lines, std::vector<std::string>{"first"});
}

TEST(TimeDataEdit, AddNewKeepsPointsSorted) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmLevel, ckLevel);
    c->GetPoint(0)->Time = 1.0L;
    c->GetPoint(0)->SetLevel(0.5L);
    c->AddNew(3.0L);
    c->AddNew(2.0L);
    TDataPoint* early = c->AddNew(0.5L);
    ASSERT_EQ(c->GetCount(), 4);
    for (int i = 1; i < c->GetCount(); ++i)
        EXPECT_LT(c->GetPoint(i - 1)->Time, c->GetPoint(i)->Time);
    EXPECT_EQ(c->GetPoint(0), early);
    EXPECT_EQ(early->GetRawValue(), c->GetPoint(1)->GetRawValue());
    EXPECT_EQ(c->FindPointAt(2.0L), c->GetPoint(2));
    EXPECT_EQ(c->FindPointAt(2.5L), nullptr);
}

TEST(TimeDataEdit, PlaceValueModes) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmLevel, ckLevel);
    c->GetPoint(0)->SetLevel(0.2L);
    TDataPoint* mid = c->AddNew(1.0L);
    TDataPoint* last = c->AddNew(2.0L);
    last->SetLevel(0.6L);
    mid->SetLevel(-1);
    EXPECT_TRUE(mid->PlaceValue(2));
    EXPECT_NEAR(mid->GetLevel(), 0.4L, 1.0 / 65535);
    EXPECT_TRUE(mid->PlaceValue(1));
    EXPECT_EQ(mid->Value, c->GetPoint(0)->Value);
    EXPECT_TRUE(mid->PlaceValue(0));
    EXPECT_EQ(mid->Value, 0);
    EXPECT_FALSE(c->GetPoint(0)->PlaceValue(1)); // no left neighbour
    EXPECT_FALSE(last->PlaceValue(2));           // no right neighbour
    EXPECT_TRUE(last->PlaceValue(7));            // unknown mode changes nothing
    EXPECT_NEAR(last->GetLevel(), 0.6L, 1.0 / 65535);
}

TEST(TimeDataEdit, EmptyCurveFallsBackToDefaultPoint) {
    TTimeDataSet set;
    TTimeData* c = MakeCurve(set, vmLevel, ckLevel);
    c->Clear();
    EXPECT_TRUE(c->UpdateCurrentPoint(1.0L));
    EXPECT_EQ(c->GetCount(), 1);
    EXPECT_EQ(c->CurrentPoint.Value, 0);
}

TEST(TimeDataSet, RegisterFindAndEnable) {
    TTimeDataSet set;
    set.AddFromTemplate({"{a}", "Level", vmLevel, ckLevel, 0});
    set.AddFromTemplate({"{b}", "Sizing", vmLevel, ckSizing, 0});
    set.AddFromTemplate({"{c}", "Volume 2", vmLevel, ckLevel, 0});
    EXPECT_FALSE(set.HasEnabled());
    EXPECT_EQ(set.FindByKind(ckLevel), nullptr); // disabled curves are not found by kind
    TTimeData* vol = set.Register(ckLevel, "Audio volume");
    ASSERT_EQ(vol, set.GetItem(0));
    EXPECT_EQ(vol->Caption, "Audio volume");
    EXPECT_TRUE(vol->GetEnabled());
    EXPECT_EQ(set.FindByKind(ckLevel), vol);
    TTimeData* sizing = set.Register(ckSizing, "*");
    EXPECT_EQ(sizing->Caption, "");
    EXPECT_FALSE(sizing->GetEnabled());
    sizing->SetEnabled(true); // an unnamed curve can not be enabled
    EXPECT_FALSE(sizing->GetEnabled());
    EXPECT_EQ(set.Register(ckFont, "x"), nullptr);
    EXPECT_EQ(set.FindByKey("{c}"), set.GetItem(2));
    EXPECT_EQ(set.FindByKey("{C}"), nullptr);
}
