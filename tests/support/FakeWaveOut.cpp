#include "FakeWaveOut.h"

#include <algorithm>
#include <chrono>
#include <thread>

class TFakeWaveOutHandle : public IWaveOut {
public:
    explicit TFakeWaveOutHandle(std::shared_ptr<TFakeWaveOut> device) : D(std::move(device)) {}

    int32_t DeviceCount() override {
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("count");
        return D->DeviceCountResult;
    }
    int32_t Open(const TWaveOutFormat& format) override {
        if (int ms = D->OpenDelayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("open");
        if (D->Open)
            return WaveOutInvalidParam;
        if (int32_t r = D->OpenResult)
            return r;
        if (!IsPlayableWaveFormat(format))
            return WaveOutBadFormat;
        D->Open = true;
        D->Format = format;
        D->HeadOffset = 0;
        D->ByteCredit = 0;
        return WaveOutOk;
    }
    bool IsOpen() const override {
        std::lock_guard lock(D->Lock);
        return D->Open;
    }
    int32_t PrepareHeader(TWaveOutHeader& header) override {
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("prepare");
        if (!D->Open)
            return WaveOutInvalidHandle;
        if (int32_t r = D->PrepareResult)
            return r;
        header.Flags.fetch_or(WaveHdrPrepared);
        return WaveOutOk;
    }
    int32_t Write(TWaveOutHeader& header) override {
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("write");
        if (!D->Open)
            return WaveOutInvalidHandle;
        if (int32_t r = D->WriteResult)
            return r;
        uint32_t flags = header.Flags.load();
        if (!(flags & WaveHdrPrepared))
            return WaveOutUnprepared;
        if (flags & WaveHdrInQueue)
            return WaveOutStillPlaying;
        header.Flags.store((flags & ~uint32_t(WaveHdrDone)) | WaveHdrInQueue);
        D->Queue.push_back(&header);
        return WaveOutOk;
    }
    int32_t UnprepareHeader(TWaveOutHeader& header) override {
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("unprepare");
        if (!D->Open)
            return WaveOutInvalidHandle;
        if (int32_t r = D->UnprepareResult)
            return r;
        if (header.Flags.load() & WaveHdrInQueue)
            return WaveOutStillPlaying;
        header.Flags.fetch_and(~uint32_t(WaveHdrPrepared));
        return WaveOutOk;
    }
    int32_t Reset() override {
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("reset");
        if (!D->Open)
            return WaveOutInvalidHandle;
        for (TWaveOutHeader* h : D->Queue)
            Done(h);
        D->Queue.clear();
        D->HeadOffset = 0;
        return WaveOutOk;
    }
    int32_t Close() override {
        std::lock_guard lock(D->Lock);
        D->CallLog.push_back("close");
        if (!D->Open)
            return WaveOutInvalidHandle;
        if (!D->Queue.empty())
            return WaveOutStillPlaying;
        D->Open = false;
        return WaveOutOk;
    }

    static void Done(TWaveOutHeader* h) {
        h->Flags.fetch_and(~uint32_t(WaveHdrInQueue));
        h->Flags.fetch_or(WaveHdrDone);
    }

private:
    std::shared_ptr<TFakeWaveOut> D;
};

std::unique_ptr<IWaveOut> TFakeWaveOut::MakeHandle() {
    return std::make_unique<TFakeWaveOutHandle>(shared_from_this());
}

void TFakeWaveOut::Advance(int64_t ms) {
    std::lock_guard lock(Lock);
    if (!Open)
        return;
    ByteCredit += ms * int64_t(Format.AvgBytesPerSec);
    while (!Queue.empty()) {
        TWaveOutHeader* h = Queue.front();
        size_t left = h->Length - HeadOffset;
        size_t take = std::min<size_t>(left, size_t(ByteCredit / 1000));
        PlayedBytes.insert(PlayedBytes.end(), h->Data + HeadOffset, h->Data + HeadOffset + take);
        HeadOffset += take;
        ByteCredit -= int64_t(take) * 1000;
        if (HeadOffset < h->Length)
            break;
        Queue.pop_front();
        HeadOffset = 0;
        TFakeWaveOutHandle::Done(h);
    }
    // An idle device does not save up time for later blocks.
    if (Queue.empty())
        ByteCredit = 0;
}

std::vector<uint8_t> TFakeWaveOut::Played() {
    std::lock_guard lock(Lock);
    return PlayedBytes;
}

size_t TFakeWaveOut::QueuedCount() {
    std::lock_guard lock(Lock);
    return Queue.size();
}

bool TFakeWaveOut::IsOpen() {
    std::lock_guard lock(Lock);
    return Open;
}

TWaveOutFormat TFakeWaveOut::OpenedFormat() {
    std::lock_guard lock(Lock);
    return Format;
}

std::vector<std::string> TFakeWaveOut::Calls() {
    std::lock_guard lock(Lock);
    return CallLog;
}

int TFakeWaveOut::CallCount(const std::string& name) {
    std::lock_guard lock(Lock);
    return int(std::count(CallLog.begin(), CallLog.end(), name));
}
