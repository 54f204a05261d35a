// The project output dialog: how the project is exported, as an AVI file (frame size and rate,
// video compressor, audio codec and the PCM format it encodes from) or as a Windows Media file
// with one of the system profiles, and the project's remarks. TProjPropModel holds every rule
// (preset matching, rate snapping, validation, write-back) without a widget; TProjPropDlg shows it.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyProjNode.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

// A line of a preset list and the preset number it carries.
struct TPresetEntry {
    std::string Text;
    int32_t Id = 0;
};

// A line of the PCM source list with the format it stands for.
struct TPcmFormatItem {
    std::string Text;
    TAudioFormat Format{};
};

// The audio rate a Windows Media export is given: the profile's rate snapped down to one the
// project's sound path supports.
uint32_t SnapWMAudioRate(uint32_t rate);
// A rate as the rate edit shows it: general format, 8 significant digits.
std::string RateText(Extended fps);

class TProjPropModel {
public:
    TProjPropModel(TProjectNode& project, IUiServices& ui);

    // Fills every choice from the project; the compressor choice remembers its selection so
    // Cancel can give it back.
    void LoadFromProject();
    // The empty text when the choices can be written back, else the message that says why not.
    std::string Validate() const;
    // Writes the choices into the project; call only after Validate passed.
    void ApplyToProject();
    // Gives the compressor choice back its selection from before the dialog.
    void Cancel();

    // ---- the user's changes ----
    void SetWMOutput(bool wm);
    void ChooseProfile(int index);
    void ChooseSize(int index);
    void ChooseRate(int index);
    void ChooseCompressor(int index);
    void ChooseCodec(int index);
    void ChoosePcmFormat(int index);
    // Edited texts, cleaned as the edits keep them; an empty text stays empty.
    void SetWidthText(const std::string& text) { WidthText = CleanDigits(text); }
    void SetHeightText(const std::string& text) { HeightText = CleanDigits(text); }
    void SetFpsText(const std::string& text);
    bool CanSetCompressor() const;
    void ShowCompressorAbout();

    bool SizeEditable() const { return SizeIndex == 0; }
    bool RateEditable() const { return RateIndex == 0; }

    // ---- what the dialog shows ----
    bool WMAvailable = false;
    bool WMOutput = false;
    std::vector<std::string> ProfileNames;
    int ProfileIndex = 0;
    std::string SelectedProfile;
    std::vector<std::string> ProfileLines;
    std::vector<TPresetEntry> Sizes;
    int SizeIndex = 0;
    std::vector<TPresetEntry> Rates;
    int RateIndex = 0;
    std::string WidthText, HeightText, FpsText;
    std::vector<TCompressorListItem> Compressors;
    int CompressorIndex = -1;
    std::vector<TCodecListItem> Codecs;
    int CodecIndex = -1;
    std::vector<TPcmFormatItem> PcmFormats;
    // -1: the project's own format, which no line of the list shows.
    int PcmIndex = -1;
    std::string PcmText;
    TAudioFormat PcmFormat{};
    bool IncludeAudio = true;
    std::vector<std::string> Remarks;

private:
    static std::string CleanDigits(const std::string& text);
    void RunOutputChoice();
    void ShowProjectAudioFormat();
    uint32_t ChosenFourCC() const;

    TProjectNode& Project;
    IUiServices& Ui;
    uint32_t OriginalFourCC = 0;
};

class TProjPropDlg : public QDialog {
    Q_OBJECT
public:
    TProjPropDlg(TProjectNode& project, IUiServices& ui, QWidget* parent = nullptr);
    ~TProjPropDlg() override;

    // Fills the dialog from the project, shows it modally and writes it back on OK. False, with
    // the project and its compressor choice as they were, otherwise.
    bool Execute();

    // Runs in place of the modal loop when set (tests): shows and drives the dialog, returns
    // the dialog's result.
    static std::function<int(TProjPropDlg&)> ExecHook;

    TProjPropModel Model;

    QRadioButton* rbAVI;
    QRadioButton* rbWMF;
    QStackedWidget* Notebook;
    QComboBox* cbFPS;
    QLineEdit* eProjFPS;
    QComboBox* cbSize;
    QLineEdit* eWidth;
    QLineEdit* eHeight;
    QComboBox* cbVidComp;
    QPushButton* bSetComp;
    QComboBox* cbAudComp;
    QComboBox* cbAudFormat;
    QCheckBox* cbIncludeAudio;
    QListWidget* lbProfiles;
    QPlainTextEdit* mProfile;
    QPlainTextEdit* mRemarks;
    QPushButton* bOK;
    QPushButton* bCancel;

public slots:
    void accept() override;

private:
    QWidget* BuildAviPage();
    QWidget* BuildWmfPage();
    void Connect();
    // Shows the model's state in the controls without running their change handlers.
    void ShowModel();
    void ReadEdits();
    // Rewrites a size or rate edit with its cleaned text as the user types.
    void CleanEdit(QLineEdit* edit);

    IUiServices& Ui;
    bool Filling = false;
};
