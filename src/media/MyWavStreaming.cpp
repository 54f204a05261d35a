#include "MyWavStreaming.h"

#include <chrono>
#include <cstring>
#include <limits>
#include <utility>

#include "IUiServices.h"
#include "MyExceptions.h"

// ---- TAudioBlock --------------------------------------------------------------------------------

TAudioBlock::TAudioBlock(size_t size)
    : Bytes(size ? std::make_unique<uint8_t[]>(size) : nullptr), Length(size) {}

TAudioBlock::TAudioBlock(const void* data, size_t size) : TAudioBlock(size) {
    if (size)
        std::memcpy(Bytes.get(), data, size);
}

TAudioBlock TAudioBlock::Filled(size_t size, uint8_t value) {
    TAudioBlock block(size);
    if (size)
        std::memset(block.Bytes.get(), value, size);
    return block;
}

TAudioBlock::TAudioBlock(TAudioBlock&& other) noexcept
    : Bytes(std::move(other.Bytes)), Length(std::exchange(other.Length, 0)) {}

TAudioBlock& TAudioBlock::operator=(TAudioBlock&& other) noexcept {
    if (this != &other) {
        Bytes = std::move(other.Bytes);
        Length = std::exchange(other.Length, 0);
    }
    return *this;
}

void TAudioBlock::Reset() {
    Bytes.reset();
    Length = 0;
}

// ---- Messages -----------------------------------------------------------------------------------

const char* WaveOutOpenErrorText(int32_t code) {
    switch (code) {
    case WaveOutAllocated:
        return "Sound device is in use. Wait till it is freed";
    case WaveOutNoDriver:
        return "There is no suitable device for wave output";
    case WaveOutBadFormat:
        return "Wave audio format is not supported";
    default:
        return "Unspecified audio error";
    }
}

// ---- TCustomWavePlayer --------------------------------------------------------------------------

TCustomWavePlayer::TCustomWavePlayer(IUiServices* ui, std::unique_ptr<IWaveOut> device)
    : Ui(ui), Device(device ? std::move(device) : CreateWaveOut()) {}

TCustomWavePlayer::~TCustomWavePlayer() {
    Stop();
    WaitFor();
    std::lock_guard lock(HeadersLock);
    // Only reached with blocks left when the worker never ran or did not finish: the device lets
    // go of them before they are freed.
    if (Device->IsOpen()) {
        Device->Reset();
        Device->Close();
    }
    Headers.clear();
}

void TCustomWavePlayer::Init(const TAudioFormat& format, TWavePlayerEvent onDone,
                             TWavePlayerEvent onTerminate) {
    if (Started.load())
        throw EInvalidOperation("A wave player cannot be restarted");
    Format = format;
    OnDone = std::move(onDone);
    OnTerminate = std::move(onTerminate);
    StopFlag = false;
    Initialised = true;
}

void TCustomWavePlayer::Start() {
    if (!Initialised)
        throw EInvalidOperation("A wave player is started before Init");
    StartThread();
}

void TCustomWavePlayer::StartThread() {
    if (Started.exchange(true))
        return;
    try {
        Thread = std::thread([this] { ThreadBody(); });
    } catch (...) {
        Started = false;
        throw;
    }
}

void TCustomWavePlayer::Stop() {
    StopFlag = true;
}

void TCustomWavePlayer::WaitFor() {
    if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id())
        Thread.join();
}

void TCustomWavePlayer::PostMessage(const std::string& text) {
    if (!Ui)
        return;
    IUiServices* ui = Ui;
    Ui->PostToGui([ui, text] { ui->ShowMessage(text, TMsgKind::Error); });
}

void TCustomWavePlayer::ThreadBody() {
    try {
        Execute();
    } catch (const std::exception&) {
        // Nothing may escape a thread; the device failing is reported where it happens.
    }
    Terminated = true;
    if (!OnTerminate)
        return;
    if (!Ui) {
        OnTerminate(this);
        return;
    }
    std::weak_ptr<int> alive = Alive;
    TWavePlayerEvent handler = OnTerminate;
    TCustomWavePlayer* self = this;
    Ui->PostToGui([alive, handler, self] {
        // The owner runs on this same thread, so the player cannot go away during the call.
        if (alive.lock())
            handler(self);
    });
}

// ---- TPassiveStreamer ---------------------------------------------------------------------------

TPassiveStreamer::~TPassiveStreamer() {
    // The worker runs this class's Execute: it must end before this part of the object goes.
    Stop();
    WaitFor();
}

void TPassiveStreamer::Init(const TAudioFormat& format, TWavePlayerEvent onDone,
                            TWavePlayerEvent onTerminate) {
    TCustomWavePlayer::Init(format, std::move(onDone), std::move(onTerminate));
    std::lock_guard lock(HeadersLock);
    DeviceOpen = false;
    NoDevice = false;
    Error = false;
    Queued = 0;
    Finished = false;
}

void TPassiveStreamer::OpenDeviceLocked() {
    DeviceOpen = true;
    // Counting first means a machine without sound gets one message, not two.
    if (Device->DeviceCount() == 0) {
        NoDevice = true;
        PostMessage(WaveOutNoDeviceText);
        Terminated = true;
        return;
    }
    const TWaveFormatEx& w = Format.Wfx;
    TWaveOutFormat format;
    format.FormatTag = w.wFormatTag;
    format.Channels = w.nChannels;
    format.SamplesPerSec = w.nSamplesPerSec;
    format.AvgBytesPerSec = w.nAvgBytesPerSec;
    format.BlockAlign = w.nBlockAlign;
    format.BitsPerSample = w.wBitsPerSample;
    int32_t code = Device->Open(format);
    if (code != WaveOutOk) {
        PostMessage(WaveOutOpenErrorText(code));
        Terminated = true;
    }
}

int32_t TPassiveStreamer::Write(TAudioBlock& block) {
    std::lock_guard lock(HeadersLock);
    // Checked under the lock, so a block is never queued behind the worker's final reset.
    if (!Initialised || StopFlag || Terminated || Error || Finished)
        return -1;
    if (block.Size() > std::numeric_limits<uint32_t>::max())
        return -1;
    if (!DeviceOpen)
        OpenDeviceLocked();
    if (Terminated)
        return -1;
    StartThread();

    if (block.Empty()) {
        block.Reset();
        return int32_t(Headers.size());
    }
    // The block is taken only once nothing can throw any more.
    Headers.push_back(std::make_unique<TQueuedHeader>());
    TQueuedHeader& queued = *Headers.back();
    queued.Block = std::move(block);
    TWaveOutHeader& header = queued.Header;
    header.Data = queued.Block.Data();
    header.Length = uint32_t(queued.Block.Size());
    ++Queued;
    if (Device->PrepareHeader(header) != WaveOutOk || Device->Write(header) != WaveOutOk)
        Error = true;
    return int32_t(Headers.size());
}

void TPassiveStreamer::ReapLocked() {
    for (size_t i = Headers.size(); i-- > 0;) {
        TWaveOutHeader& header = Headers[i]->Header;
        if (!(header.Flags.load() & WaveHdrDone))
            continue;
        if (Device->UnprepareHeader(header) != WaveOutOk) {
            // Left in the list: the final reset makes it safe to free.
            Error = true;
            continue;
        }
        Headers.erase(Headers.begin() + std::ptrdiff_t(i));
        --Queued;
    }
}

void TPassiveStreamer::Execute() {
    // The stop flag is not cleared here: a Stop before the worker ran must still end it.
    {
        std::lock_guard lock(HeadersLock);
        if (!DeviceOpen)
            OpenDeviceLocked();
        if (NoDevice)
            return;
    }
    while (!Error) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(HeadersLock);
        if (StopFlag)
            break;
        ReapLocked();
    }
    {
        std::lock_guard lock(HeadersLock);
        // Reset in every way out, not only after Stop: the blocks are freed below and the
        // device must not read them any more.
        if (Device->IsOpen()) {
            Device->Reset();
            Device->Close();
        }
        DeviceOpen = false;
        Finished = true;
        Queued = 0;
    }
    if (OnDone)
        OnDone(this);
    std::lock_guard lock(HeadersLock);
    Headers.clear();
}
