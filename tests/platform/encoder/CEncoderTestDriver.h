// Drives the H.264 encoder component straight through the OpenMAX IL core, as a client would:
// configures it while loaded, feeds it the NV12 test pattern from its own input buffers, keeps
// every output buffer it gives back, and brings it back to loaded.
#ifndef CENCODER_TEST_DRIVER_H
#define CENCODER_TEST_DRIVER_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CNv12Pattern.h"
#include "COmxTestClient.h"
#include "ti814x-omx.h"

#define PELLIX_ENCODER_NAME "OMX.TI.DUCATI.VIDENC"

// What a test asks of the encoder; every field is written to the component.
struct SEncoderSetup
{
    unsigned uiWidth = 640;
    unsigned uiHeight = 360;
    unsigned uiFrameRate = 60;
    unsigned uiBitRate = 2000000;
    OMX_VIDEO_AVCPROFILETYPE eProfile = OMX_VIDEO_AVCProfileBaseline;
    OMX_VIDEO_AVCLEVELTYPE eLevel = OMX_VIDEO_AVCLevel42;
    unsigned uiKeyInterval = 30;  // nPFrames + 1
    unsigned uiBFrames = 0;
    OMX_VIDEO_ENCODING_MODE_PRESETTYPE eEncodingPreset = OMX_Video_Enc_High_Speed_Med_Quality;
    OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControlPreset = OMX_Video_RC_Low_Delay;
    unsigned uiInputBuffers = 4;
    unsigned uiOutputBuffers = 4;
    unsigned uiOutputBufferSize = 0;  // 0: a whole picture's bytes
    bool bQpLimits = false;           // then all three ranges are iQpMin..iQpMax
    int iQpMin = 0;
    int iQpMax = 51;
};

struct SEncodedBuffer
{
    OMX_U32 nFlags;
    OMX_TICKS nTimeStamp;
    std::string oData;
};

class CEncoderTestDriver
{
public:
    CEncoderTestDriver();

    COmxTestClient& Client() { return m_oClient; }
    OMX_HANDLETYPE Handle() const { return m_oClient.Handle(); }

    // Writes the setup (ports, preset, AVC, dynamic parameters); the first refusal is returned.
    OMX_ERRORTYPE Configure(const SEncoderSetup& roSetup);

    // To Executing with every buffer handed over: the outputs to be filled (unless not
    // bOutputs: then with SubmitOutputs), the inputs with the first frames of a run of uiFrames
    // pictures, the last flagged OMX_BUFFERFLAG_EOS.
    bool Start(unsigned uiFrames, bool bOutputs = true);
    bool SubmitOutputs() { return m_oClient.SubmitAll(1, false) == OMX_ErrorNone; }
    // Waits for the output buffer flagged OMX_BUFFERFLAG_EOS.
    bool WaitEndOfStream();
    bool WaitOutputs(size_t uiCount);
    // Back to Loaded; the buffers stay with the client meanwhile.
    bool Stop();
    // Start, WaitEndOfStream and Stop.
    bool Encode(unsigned uiFrames);

    // Output buffers are kept by the client instead of being handed back, until ReleaseHeld.
    void HoldOutputs(bool bHold) { m_bHoldOutputs = bHold; }
    void ReleaseHeld();
    // Input buffers are filled with one byte less than a picture.
    void ShortFrames(bool bShort) { m_bShortFrames = bShort; }

    std::vector<SEncodedBuffer> Outputs() const;
    // Every byte the encoder gave, in order.
    std::string Stream() const;
    // Writes the stream to a file.
    bool WriteStream(const std::string& roPath) const;
    // The timestamp the driver gives frame uiFrame: microseconds at the setup's frame rate.
    OMX_TICKS TimeStamp(unsigned uiFrame) const;
    unsigned FramesSent() const { return m_uiFramesSent; }

private:
    void FeedInput(OMX_BUFFERHEADERTYPE* poHeader);
    void TakeOutput(OMX_BUFFERHEADERTYPE* poHeader);

    COmxTestClient m_oClient;
    SEncoderSetup m_oSetup;
    std::unique_ptr<CNv12Pattern> m_poPattern;
    unsigned m_uiStride = 0;
    unsigned m_uiFrames = 0;
    std::atomic<unsigned> m_uiFramesSent{0};
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bHoldOutputs{false};
    std::atomic<bool> m_bShortFrames{false};

    mutable std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    std::vector<SEncodedBuffer> m_aoOutputs;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoHeld;
    bool m_bEndOfStream = false;
};

#endif // CENCODER_TEST_DRIVER_H
