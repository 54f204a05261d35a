// The record shared with the picture-sequence export: it turns playback into a frame-by-frame
// run and hears of each frame and of the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QObject;

struct TSeqExportRec {
    std::string Path; // output folder, ending in "/"
    bool JPG = true;  // JPG files, else BMP
    // Called after every played frame, with its number, while set; set only while an export
    // runs.
    std::function<void(QObject* sender, int32_t frame)> OnFrame;
    // The main window's SeqPlayRequest: a sender starts the playback, none stops it.
    std::function<void(QObject* sender)> OnRun;
    // Called by the main window when its playback ends.
    std::function<void(QObject* sender)> OnDone;
    int32_t Skip = 0; // 0 writes every frame, N every Nth
};
