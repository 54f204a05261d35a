#include "MyCommonServices.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "MyCommonParams.h"
#include "MyValueStream.h"
#include "TestData.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class T> Bytes Saved(const T& value) {
    Bytes out;
    TValueWriter w(out);
    value.SaveToWriter(w);
    return out;
}

// Points the user's configuration folder at a fresh temporary folder for one test.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            OldConfig = old;
        setenv("XDG_CONFIG_HOME", Dir.path().toUtf8().constData(), 1);
    }
    void TearDown() override {
        Settings.reset();
        if (OldConfig)
            setenv("XDG_CONFIG_HOME", OldConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    std::string IniPath() const { return Dir.path().toStdString() + "/Draskel/Tarvolin.ini"; }

    QTemporaryDir Dir;
    std::optional<std::string> OldConfig;
};

const char* const Key = "\\Software\\Draskel\\Tarvolin\\";

} // namespace

TEST(PartialInfoStream, DefaultsAndCutRangeBytes) {
    const char* const Zero = "05 0000000000000000 0000";
    EXPECT_EQ(Saved(TPartialInfo()), HexBytes(std::string("09") + Zero + "09" + Zero));
    TPartialInfo cut;
    cut.FromStart = false;
    cut.InTime = 1.0L;
    cut.OutTime = 0.5L;
    const Bytes out = Saved(cut);
    EXPECT_EQ(out, HexBytes("08 05 0000000000000080 ff3f 09 05 0000000000000080 fe3f"));
    TValueReader r(out.data(), out.size());
    TPartialInfo back;
    back.LoadFromReader(r);
    EXPECT_FALSE(back.FromStart);
    EXPECT_EQ(back.InTime, 1.0L);
    EXPECT_TRUE(back.ToEnd);
    EXPECT_EQ(back.OutTime, 0.5L);
    EXPECT_TRUE(r.AtEnd());
}

TEST(FontInfoStream, DefaultBytes) {
    // Version 1, a reserved byte, size 14, style, colour 255, the name, reserved 1.0 and a flag.
    EXPECT_EQ(Saved(TFontInfo()),
              HexBytes("0201 0200 020e 0200 03ff00 0605417269616c 05 0000000000000080 ff3f 08"));
}

TEST(FontInfoStream, RoundTripKeepsOwnVersion) {
    TFontInfo f;
    f.Size = 36;
    f.Name = "DejaVu Sans \xC3\x9C";
    f.Style = fsBold | fsStrikeOut;
    f.Color = 0x00FF8040;
    f.Reserved1 = 3;
    f.Reserved2 = 0.5L;
    f.Reserved3 = true;
    Bytes out = Saved(f);
    // Patch the stored version to 7: it is kept aside and changes nothing else.
    ASSERT_EQ(out[0], 0x02);
    out[1] = 7;

    TValueReader r(out.data(), out.size());
    TFontInfo g;
    g.LoadFromReader(r);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_EQ(g.Version, 1);
    EXPECT_EQ(g.VersionRead, 7);
    out[1] = 1;
    EXPECT_EQ(Saved(g), out); // every other field came back
}

TEST(FontInfoStream, LongNameIsCutAtACharacterBoundary) {
    std::string name;
    for (int i = 0; i < 200; ++i)
        name += "\xC3\xA9"; // 400 bytes
    TFontInfo f;
    f.Name = name;
    const Bytes out = Saved(f);
    TValueReader r(out.data(), out.size());
    TFontInfo g;
    g.LoadFromReader(r);
    EXPECT_EQ(g.Name.size(), 254u);
    EXPECT_EQ(g.Name, name.substr(0, 254));
}

TEST_F(SettingsTest, ValuesRoundTripAsTextThroughTheFile) {
    const std::string tricky = "/home/u/My Clips, \"best\"/@caf\xC3\xA9.mpr";
    {
        TMyRegistry reg(Key);
        reg.WriteString("Recents", "ProjectFile", tricky);
        reg.WriteString("Recents", "ClipDir", "");
        reg.WriteInteger("Preference", "Video Background Color", 0x00FF00FF);
        reg.WriteInteger("Export Bitmap", "Level", -5);
        reg.WriteBool("Export progress", "Show Images", false);
        reg.WriteBool("Dialogs", "HugeOutput", true);
    }
    TMyRegistry reg(Key);
    EXPECT_EQ(reg.GetFileName(), IniPath());
    EXPECT_EQ(reg.ReadString("Recents", "ProjectFile", ""), tricky);
    EXPECT_EQ(reg.ReadString("Recents", "ClipDir", "x"), "");
    EXPECT_EQ(reg.ReadInteger("Preference", "Video Background Color", 0), 0x00FF00FF);
    EXPECT_EQ(reg.ReadInteger("Export Bitmap", "Level", 0), -5);
    EXPECT_FALSE(reg.ReadBool("Export progress", "Show Images", true));
    EXPECT_TRUE(reg.ReadBool("Dialogs", "HugeOutput", false));

    // The file itself holds plain texts: decimal integers, Booleans as 1 and 0.
    QSettings raw(QString::fromStdString(IniPath()), QSettings::IniFormat);
    EXPECT_EQ(raw.value("Preference/Video Background Color").toString(), "16711935");
    EXPECT_EQ(raw.value("Export progress/Show Images").toString(), "0");
    QFile f(QString::fromStdString(IniPath()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("[Dialogs]\nHugeOutput=1\n")) << text.constData();
}

TEST_F(SettingsTest, TextsThatAreNoNumberReadAsDefault) {
    TMyRegistry reg(Key);
    EXPECT_EQ(reg.ReadString("Recents", "ProjectFile", "none"), "none"); // missing
    EXPECT_FALSE(reg.ValueExists("Dialogs", "HugeOutput"));
    reg.WriteString("Preference", "Video Background Color", "blue");
    reg.WriteString("Dialogs", "A", "2");
    reg.WriteString("Dialogs", "B", "yes");
    reg.WriteString("Dialogs", "C", " 0 ");
    EXPECT_EQ(reg.ReadInteger("Preference", "Video Background Color", 77), 77);
    EXPECT_TRUE(reg.ReadBool("Dialogs", "A", false));
    EXPECT_FALSE(reg.ReadBool("Dialogs", "B", false));
    EXPECT_TRUE(reg.ReadBool("Dialogs", "B", true));
    EXPECT_FALSE(reg.ReadBool("Dialogs", "C", true));
    reg.DeleteKey("Dialogs", "A");
    EXPECT_FALSE(reg.ValueExists("Dialogs", "A"));
}

TEST_F(SettingsTest, ConfirmationAnswersAndRemembersTheTickedBox) {
    Settings = std::make_unique<TMyRegistry>(Key);
    TFakeUiServices ui;
    ui.ConfirmAnswers = {{true, false}, {false, false}, {false, true}};
    EXPECT_TRUE(ShowConfirm(DlgHugeOutput, &ui));
    EXPECT_FALSE(ShowConfirm(DlgHugeOutput, &ui)); // Cancel without the box: asked again later
    EXPECT_FALSE(Settings->ValueExists("Dialogs", "HugeOutput"));
    EXPECT_FALSE(ShowConfirm(DlgHugeOutput, &ui)); // Cancel with the box ticked
    EXPECT_TRUE(ShowConfirm(DlgHugeOutput, &ui));  // now suppressed: confirmed, nothing shown
    ASSERT_EQ(ui.Confirmations.size(), 3u);
    EXPECT_EQ(ui.ConfirmationKinds[0], TMsgKind::Confirmation);
    EXPECT_EQ(Settings->ReadString("Dialogs", "HugeOutput", ""), "1");
}

TEST_F(SettingsTest, InformationConfirmationAndMissingServices) {
    TFakeUiServices ui;
    ui.ConfirmAnswers = {{true, true}};
    // Without an open store nothing can be remembered, but the question is still asked.
    EXPECT_TRUE(ShowConfirm(DlgNoStopPoint, &ui));
    ASSERT_EQ(ui.ConfirmationKinds.size(), 1u);
    EXPECT_EQ(ui.ConfirmationKinds[0], TMsgKind::Information);
    EXPECT_EQ(ui.Confirmations[0], "Effect can also be set in a range of time. Set begin-peg\nand "
                                   "end-peg of the parent first to set this property.\n\nDbl-click "
                                   "on the parent timeline to set the pegs.");
    // Nobody to ask: not confirmed.
    Settings = std::make_unique<TMyRegistry>(Key);
    EXPECT_FALSE(ShowConfirm(DlgNoStopPoint, nullptr));
}

TEST(MyFormBase, CollectsLinesOnlyIntoAGivenList) {
    TMyFormBase idle;
    std::string caption = "Export";
    idle.CollectControl(1, &caption, "hint");
    idle.CollectMenuItem("File");

    std::vector<std::string> lines;
    TMyFormBase owner;
    owner.Collector = &lines;
    TMyFormBase child;
    child.InheritCollector(&owner);
    child.CollectMenuItem("&Open");
    child.CollectControl(2, &caption, "Start the export");
    child.CollectControl(3, nullptr, "Frames per second");
    child.CollectControl(3, nullptr, ""); // an edit without hint adds nothing
    EXPECT_EQ(lines, (std::vector<std::string>{"  Menu:&Open", "  Export  Hint:Start the export",
                                               "  Hint:Frames per second"}));
}
