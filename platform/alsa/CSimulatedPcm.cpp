#include "CSimulatedPcm.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "PellixAlsaConfig.h"
#include "PellixAlsaSignal.h"

namespace
{
const uint64_t local_uiNsPerSecond = 1000000000;
const unsigned local_uiBytesPerSample = 2;
const unsigned local_auiRates[] = {32000, 44100, 48000};
const unsigned local_uiMaxChannels = 2;

uint64_t local_MonotonicNs()
{
    timespec oNow;
    clock_gettime(CLOCK_MONOTONIC, &oNow);
    return static_cast<uint64_t>(oNow.tv_sec) * local_uiNsPerSecond + static_cast<uint64_t>(oNow.tv_nsec);
}

// Start of frame uiFrame of an interleaved area.
unsigned char* local_FrameAddress(const snd_pcm_channel_area_t& roArea, snd_pcm_uframes_t uiFrame)
{
    return static_cast<unsigned char*>(roArea.addr) + (roArea.first + roArea.step * uiFrame) / 8;
}

snd_pcm_ioplug_callback_t local_MakeCallbacks(
    int (*pfnStart)(snd_pcm_ioplug_t*), int (*pfnStop)(snd_pcm_ioplug_t*),
    snd_pcm_sframes_t (*pfnPointer)(snd_pcm_ioplug_t*),
    snd_pcm_sframes_t (*pfnTransfer)(snd_pcm_ioplug_t*, const snd_pcm_channel_area_t*, snd_pcm_uframes_t,
                                     snd_pcm_uframes_t),
    int (*pfnClose)(snd_pcm_ioplug_t*), int (*pfnHwParams)(snd_pcm_ioplug_t*, snd_pcm_hw_params_t*),
    int (*pfnSwParams)(snd_pcm_ioplug_t*, snd_pcm_sw_params_t*), int (*pfnPrepare)(snd_pcm_ioplug_t*),
    int (*pfnPollRevents)(snd_pcm_ioplug_t*, struct pollfd*, unsigned int, unsigned short*))
{
    snd_pcm_ioplug_callback_t oCallbacks;
    memset(&oCallbacks, 0, sizeof(oCallbacks));
    oCallbacks.start = pfnStart;
    oCallbacks.stop = pfnStop;
    oCallbacks.pointer = pfnPointer;
    oCallbacks.transfer = pfnTransfer;
    oCallbacks.close = pfnClose;
    oCallbacks.hw_params = pfnHwParams;
    oCallbacks.sw_params = pfnSwParams;
    oCallbacks.prepare = pfnPrepare;
    oCallbacks.poll_revents = pfnPollRevents;
    return oCallbacks;
}
} // namespace

const snd_pcm_ioplug_callback_t CSimulatedPcm::s_oCallbacks =
    local_MakeCallbacks(CallbackStart, CallbackStop, CallbackPointer, CallbackTransfer, CallbackClose,
                        CallbackHwParams, CallbackSwParams, CallbackPrepare, CallbackPollRevents);

// ---- Open and close -----------------------------------------------------------------------

int CSimulatedPcm::Open(snd_pcm_t** ppoPcm, const char* szName, snd_config_t* poConf, snd_pcm_stream_t eStream,
                        int iMode)
{
    std::string oDevice = "capture";
    const int iConfig = PellixForEachPluginField(poConf, [&oDevice](const char* szId, snd_config_t* poEntry) {
        return strcmp(szId, "device") == 0 ? PellixReadPluginString(poEntry, szId, oDevice)
                                            : PellixUnknownPluginField(szId);
    });
    if (iConfig < 0)
        return iConfig;

    // A device that fails to come back for a while.
    if (CAlsaControlFolder().TakeFromCount(oDevice + ".open-fail"))
        return -ENODEV;

    CSimulatedPcm* poPcm = new (std::nothrow) CSimulatedPcm(oDevice, eStream);
    if (poPcm == nullptr)
        return -ENOMEM;
    const int iResult = poPcm->Create(szName, eStream, iMode);
    if (iResult < 0)
    {
        // Before the ioplug exists nothing else owns the object.
        if (poPcm->m_oIo.pcm == nullptr)
            delete poPcm;
        else
            snd_pcm_ioplug_delete(&poPcm->m_oIo);
        return iResult;
    }
    *ppoPcm = poPcm->m_oIo.pcm;
    return 0;
}

CSimulatedPcm::CSimulatedPcm(const std::string& roDevice, snd_pcm_stream_t eStream)
    : m_oIo(),
      m_oDevice(roDevice),
      m_oFolder(),
      m_iTimerFd(-1),
      m_iRecordFd(-1),
      m_uiOpenNs(local_MonotonicNs()),
      m_uiRate(0),
      m_uiChannels(0),
      m_uiPeriodSize(0),
      m_uiBufferSize(0),
      m_uiAvailMin(1),
      m_bRunning(false),
      m_uiStartNs(0),
      m_uiTransferred(0),
      m_uiSignalIndex(0),
      m_bStalled(false),
      m_uiStallNs(0),
      m_bMuted(false),
      m_pvCore(nullptr),
      m_pfnReadInputAudio(nullptr)
{
    m_oIo.stream = eStream;
}

CSimulatedPcm::~CSimulatedPcm()
{
    if (m_iTimerFd >= 0)
        close(m_iTimerFd);
    if (m_iRecordFd >= 0)
        close(m_iRecordFd);
    if (m_pvCore != nullptr)
        dlclose(m_pvCore);
}

void CSimulatedPcm::FindInputAudio()
{
    // Only a core already loaded (the library's) is asked; none is loaded for it.
    m_pvCore = dlopen("libOMX_Core.so", RTLD_LAZY | RTLD_NOLOAD);
    if (m_pvCore == nullptr)
        return;
    const auto pfnHasAudio = reinterpret_cast<PfnPellixInputHasAudio>(dlsym(m_pvCore, "PellixInput_HasAudio"));
    const auto pfnReadAudio = reinterpret_cast<PfnPellixInputReadAudio>(dlsym(m_pvCore, "PellixInput_ReadAudio"));
    if (pfnHasAudio != nullptr && pfnReadAudio != nullptr && pfnHasAudio() != 0)
        m_pfnReadInputAudio = pfnReadAudio;
    else
    {
        dlclose(m_pvCore);
        m_pvCore = nullptr;
    }
}

int CSimulatedPcm::Create(const char* szName, snd_pcm_stream_t eStream, int iMode)
{
    m_iTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_iTimerFd < 0)
        return -errno;
    if (eStream == SND_PCM_STREAM_PLAYBACK && m_oFolder.Exists(m_oDevice + ".raw"))
    {
        m_iRecordFd = open(m_oFolder.PathOf(m_oDevice + ".raw").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_iRecordFd < 0)
            return -errno;
    }

    if (eStream == SND_PCM_STREAM_CAPTURE)
        FindInputAudio();

    m_oIo.version = SND_PCM_IOPLUG_VERSION;
    m_oIo.name = "Pellix simulated PCM";
    m_oIo.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
    m_oIo.callback = &s_oCallbacks;
    m_oIo.private_data = this;
    m_oIo.poll_fd = m_iTimerFd;
    m_oIo.poll_events = POLLIN;
    m_oIo.mmap_rw = 0;
    int iResult = snd_pcm_ioplug_create(&m_oIo, szName, eStream, iMode);
    if (iResult < 0)
    {
        m_oIo.pcm = nullptr;
        return iResult;
    }
    return SetConstraints();
}

int CSimulatedPcm::SetConstraints()
{
    static const unsigned s_auiAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned s_auiFormats[] = {SND_PCM_FORMAT_S16_LE};
    int iResult = 0;

    // A fixed rate stands in for hardware that cannot do the one asked for; the input's audio
    // track comes at 48 kHz.
    const std::vector<long> aiForcedRate = m_oFolder.ReadNumbers(m_oDevice + ".rate");
    unsigned uiForcedRate = aiForcedRate.empty() ? 0 : static_cast<unsigned>(aiForcedRate[0]);
    if (m_pfnReadInputAudio != nullptr)
        uiForcedRate = PELLIX_INPUT_AUDIO_RATE;
    const unsigned uiMinChannels = m_pfnReadInputAudio != nullptr ? PELLIX_INPUT_AUDIO_CHANNELS : 1;

    if ((iResult = snd_pcm_ioplug_set_param_list(&m_oIo, SND_PCM_IOPLUG_HW_ACCESS, 1, s_auiAccess)) < 0 ||
        (iResult = snd_pcm_ioplug_set_param_list(&m_oIo, SND_PCM_IOPLUG_HW_FORMAT, 1, s_auiFormats)) < 0 ||
        (iResult = snd_pcm_ioplug_set_param_minmax(&m_oIo, SND_PCM_IOPLUG_HW_CHANNELS, uiMinChannels,
                                                   local_uiMaxChannels)) < 0)
        return iResult;
    if (uiForcedRate != 0)
        iResult = snd_pcm_ioplug_set_param_list(&m_oIo, SND_PCM_IOPLUG_HW_RATE, 1, &uiForcedRate);
    else
        iResult = snd_pcm_ioplug_set_param_list(&m_oIo, SND_PCM_IOPLUG_HW_RATE,
                                                sizeof(local_auiRates) / sizeof(local_auiRates[0]), local_auiRates);
    if (iResult < 0)
        return iResult;
    if ((iResult = snd_pcm_ioplug_set_param_minmax(&m_oIo, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 256 * 1024)) < 0 ||
        (iResult = snd_pcm_ioplug_set_param_minmax(&m_oIo, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 256, 1024 * 1024)) < 0 ||
        (iResult = snd_pcm_ioplug_set_param_minmax(&m_oIo, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0)
        return iResult;
    return 0;
}

int CSimulatedPcm::CallbackClose(snd_pcm_ioplug_t* poIo)
{
    delete From(poIo);
    return 0;
}

// ---- Parameters and the run ---------------------------------------------------------------

int CSimulatedPcm::CallbackHwParams(snd_pcm_ioplug_t* poIo, snd_pcm_hw_params_t* poParams)
{
    CSimulatedPcm* poThis = From(poIo);
    unsigned uiRate = 0;
    unsigned uiChannels = 0;
    int iDirection = 0;
    if (snd_pcm_hw_params_get_rate(poParams, &uiRate, &iDirection) < 0 ||
        snd_pcm_hw_params_get_channels(poParams, &uiChannels) < 0 ||
        snd_pcm_hw_params_get_period_size(poParams, &poThis->m_uiPeriodSize, &iDirection) < 0 ||
        snd_pcm_hw_params_get_buffer_size(poParams, &poThis->m_uiBufferSize) < 0 || uiRate == 0 ||
        uiChannels == 0 || uiChannels > local_uiMaxChannels)
        return -EINVAL;
    poThis->m_uiChannels = uiChannels;
    poThis->m_uiAvailMin = poThis->m_uiPeriodSize;
    if (poThis->IsCapture() && uiRate != poThis->m_uiRate)
    {
        for (unsigned uiChannel = 0; uiChannel < local_uiMaxChannels; ++uiChannel)
        {
            std::vector<int16_t>& raiSignal = poThis->m_aiSignal[uiChannel];
            raiSignal.resize(uiRate);
            for (unsigned i = 0; i < uiRate; ++i)
                raiSignal[i] = PellixSignalSample(uiChannel, i, uiRate);
        }
    }
    poThis->m_uiRate = uiRate;
    return 0;
}

int CSimulatedPcm::CallbackSwParams(snd_pcm_ioplug_t* poIo, snd_pcm_sw_params_t* poParams)
{
    CSimulatedPcm* poThis = From(poIo);
    snd_pcm_uframes_t uiAvailMin = 0;
    if (snd_pcm_sw_params_get_avail_min(poParams, &uiAvailMin) == 0 && uiAvailMin > 0)
        poThis->m_uiAvailMin = uiAvailMin;
    return 0;
}

int CSimulatedPcm::CallbackPrepare(snd_pcm_ioplug_t* poIo)
{
    CSimulatedPcm* poThis = From(poIo);
    poThis->m_bRunning = false;
    poThis->m_uiTransferred = 0;
    // A prepared playback has room at once; a prepared capture has nothing until it runs.
    poThis->ArmTimer(poThis->IsCapture() ? 0 : 1, 0);
    return 0;
}

int CSimulatedPcm::CallbackStart(snd_pcm_ioplug_t* poIo)
{
    CSimulatedPcm* poThis = From(poIo);
    if (poThis->m_uiRate == 0)
        return -EBADFD;
    const uint64_t uiNow = local_MonotonicNs();
    poThis->m_bRunning = true;
    poThis->m_uiStartNs = uiNow;
    poThis->m_bStalled = false;
    poThis->m_uiSignalIndex = (uiNow - poThis->m_uiOpenNs) * poThis->m_uiRate / local_uiNsPerSecond;
    const uint64_t uiPeriodNs = poThis->m_uiPeriodSize * local_uiNsPerSecond / poThis->m_uiRate;
    poThis->ArmTimer(uiPeriodNs, uiPeriodNs);
    if (poThis->IsCapture())
        poThis->UpdateStall();
    return 0;
}

int CSimulatedPcm::CallbackStop(snd_pcm_ioplug_t* poIo)
{
    CSimulatedPcm* poThis = From(poIo);
    poThis->m_bRunning = false;
    poThis->ArmTimer(0, 0);
    return 0;
}

uint64_t CSimulatedPcm::Now() const
{
    return m_bStalled ? m_uiStallNs : local_MonotonicNs();
}

uint64_t CSimulatedPcm::FramesAt(uint64_t uiNowNs) const
{
    if (!m_bRunning || uiNowNs <= m_uiStartNs)
        return 0;
    return (uiNowNs - m_uiStartNs) * m_uiRate / local_uiNsPerSecond;
}

void CSimulatedPcm::ArmTimer(uint64_t uiFirstNs, uint64_t uiIntervalNs)
{
    itimerspec oSpec;
    oSpec.it_value.tv_sec = static_cast<time_t>(uiFirstNs / local_uiNsPerSecond);
    oSpec.it_value.tv_nsec = static_cast<long>(uiFirstNs % local_uiNsPerSecond);
    oSpec.it_interval.tv_sec = static_cast<time_t>(uiIntervalNs / local_uiNsPerSecond);
    oSpec.it_interval.tv_nsec = static_cast<long>(uiIntervalNs % local_uiNsPerSecond);
    timerfd_settime(m_iTimerFd, 0, &oSpec, nullptr);
}

void CSimulatedPcm::UpdateStall()
{
    // Once stalled the capture stays so until it is closed: its interrupts have stopped. The
    // request is taken up, so that the device opened next runs.
    if (m_bStalled || !m_oFolder.Consume(m_oDevice + ".stall"))
        return;
    m_uiStallNs = local_MonotonicNs();
    m_bStalled = true;
    ArmTimer(0, 0);
}

// ---- Position, transfer and poll ----------------------------------------------------------

snd_pcm_sframes_t CSimulatedPcm::CallbackPointer(snd_pcm_ioplug_t* poIo)
{
    CSimulatedPcm* poThis = From(poIo);
    if (!poThis->m_bRunning || poThis->m_uiBufferSize == 0)
        return 0;
    const uint64_t uiHardware = poThis->FramesAt(poThis->Now());
    if (poThis->IsCapture())
    {
        // The ring is full: the frames that keep coming overwrite unread ones.
        if (uiHardware - poThis->m_uiTransferred >= poThis->m_uiBufferSize)
            return -EPIPE;
    }
    else if (uiHardware > poThis->m_uiTransferred)
        return -EPIPE;  // played past what was written
    return static_cast<snd_pcm_sframes_t>(uiHardware % poThis->m_uiBufferSize);
}

snd_pcm_sframes_t CSimulatedPcm::CallbackTransfer(snd_pcm_ioplug_t* poIo, const snd_pcm_channel_area_t* poAreas,
                                                  snd_pcm_uframes_t uiOffset, snd_pcm_uframes_t uiSize)
{
    CSimulatedPcm* poThis = From(poIo);
    if (poThis->IsCapture())
    {
        poThis->FillCapture(poAreas, uiOffset, uiSize);
        poThis->m_uiTransferred += uiSize;
        // An overrun right after this period, as the hardware would report it.
        if (poThis->m_oFolder.Consume(poThis->m_oDevice + ".xrun"))
            snd_pcm_ioplug_set_state(poIo, SND_PCM_STATE_XRUN);
    }
    else
    {
        poThis->Record(poAreas, uiOffset, uiSize);
        poThis->m_uiTransferred += uiSize;
    }
    return static_cast<snd_pcm_sframes_t>(uiSize);
}

void CSimulatedPcm::FillCapture(const snd_pcm_channel_area_t* poAreas, snd_pcm_uframes_t uiOffset,
                                snd_pcm_uframes_t uiSize)
{
    const bool bMuted = m_oFolder.Exists(m_oDevice + ".mute");
    if (m_bMuted && !bMuted)
    {
        // The time at which the first sample of the signal was taken.
        const uint64_t uiToneNs = m_uiStartNs + m_uiTransferred * local_uiNsPerSecond / m_uiRate;
        m_oFolder.WriteText(m_oDevice + ".tone", std::to_string(uiToneNs) + "\n");
    }
    m_bMuted = bMuted;

    if (m_pfnReadInputAudio != nullptr && !bMuted)
    {
        FillFromInput(poAreas, uiOffset, uiSize);
        return;
    }
    const uint64_t uiFirst = m_uiSignalIndex + m_uiTransferred;
    for (unsigned uiChannel = 0; uiChannel < m_uiChannels; ++uiChannel)
    {
        const snd_pcm_channel_area_t& roArea = poAreas[uiChannel];
        const int16_t* piSignal = m_aiSignal[uiChannel].data();
        unsigned uiPhase = static_cast<unsigned>(uiFirst % m_uiRate);
        for (snd_pcm_uframes_t i = 0; i < uiSize; ++i)
        {
            const int16_t iSample = bMuted ? 0 : piSignal[uiPhase];
            memcpy(local_FrameAddress(roArea, uiOffset + i), &iSample, sizeof(iSample));
            if (++uiPhase == m_uiRate)
                uiPhase = 0;
        }
    }
}

void CSimulatedPcm::FillFromInput(const snd_pcm_channel_area_t* poAreas, snd_pcm_uframes_t uiOffset,
                                  snd_pcm_uframes_t uiSize)
{
    // Frame k of the run is captured at m_uiStartNs + k / rate: input frame
    // m_uiStartNs * rate + k, less the delay. Interleaved stereo: the frames lie one after the
    // other from the first channel's address.
    const uint64_t uiStartFrame = m_uiStartNs / local_uiNsPerSecond * m_uiRate +
                                  m_uiStartNs % local_uiNsPerSecond * m_uiRate / local_uiNsPerSecond;
    m_pfnReadInputAudio(uiStartFrame - s_uiInputDelayFrames + m_uiTransferred,
                        reinterpret_cast<int16_t*>(local_FrameAddress(poAreas[0], uiOffset)),
                        static_cast<unsigned>(uiSize));
}

void CSimulatedPcm::Record(const snd_pcm_channel_area_t* poAreas, snd_pcm_uframes_t uiOffset,
                           snd_pcm_uframes_t uiSize)
{
    if (m_iRecordFd < 0)
        return;
    // Interleaved: the frames lie one after the other from the first channel's address.
    const unsigned char* pbyData = local_FrameAddress(poAreas[0], uiOffset);
    size_t uiLeft = uiSize * m_uiChannels * local_uiBytesPerSample;
    while (uiLeft > 0)
    {
        const ssize_t iWritten = write(m_iRecordFd, pbyData, uiLeft);
        if (iWritten < 0 && errno == EINTR)
            continue;
        if (iWritten <= 0)
            break;
        pbyData += iWritten;
        uiLeft -= static_cast<size_t>(iWritten);
    }
}

int CSimulatedPcm::CallbackPollRevents(snd_pcm_ioplug_t* poIo, struct pollfd* poFds, unsigned int uiCount,
                                       unsigned short* puiRevents)
{
    CSimulatedPcm* poThis = From(poIo);
    uint64_t uiExpirations = 0;
    if (uiCount > 0 && (poFds[0].revents & POLLIN) != 0)
    {
        ssize_t iRead = read(poThis->m_iTimerFd, &uiExpirations, sizeof(uiExpirations));
        (void)iRead;
    }
    *puiRevents = 0;
    if (poThis->m_uiBufferSize == 0)
        return 0;

    if (poThis->IsCapture())
    {
        if (poThis->m_bRunning)
            poThis->UpdateStall();
        const uint64_t uiAvail = poThis->FramesAt(poThis->Now()) - poThis->m_uiTransferred;
        if (poThis->m_bRunning && uiAvail >= poThis->m_uiBufferSize)
        {
            snd_pcm_ioplug_set_state(poIo, SND_PCM_STATE_XRUN);
            *puiRevents = POLLERR;
        }
        else if (poThis->m_bRunning && !poThis->m_bStalled && uiAvail >= poThis->m_uiAvailMin)
            *puiRevents = POLLIN;
        return 0;
    }

    const uint64_t uiPlayed = poThis->FramesAt(poThis->Now());
    if (poThis->m_bRunning && uiPlayed > poThis->m_uiTransferred)
    {
        snd_pcm_ioplug_set_state(poIo, SND_PCM_STATE_XRUN);
        *puiRevents = POLLERR;
        return 0;
    }
    const uint64_t uiQueued = poThis->m_uiTransferred - uiPlayed;
    const uint64_t uiAvail = uiQueued < poThis->m_uiBufferSize ? poThis->m_uiBufferSize - uiQueued : 0;
    if (uiAvail >= poThis->m_uiAvailMin)
    {
        *puiRevents = POLLOUT;
        if (!poThis->m_bRunning)
            poThis->ArmTimer(1, 0);  // room stays there until something is written
    }
    return 0;
}
