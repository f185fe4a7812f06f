#include "CX264Session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace
{
// The codec's warnings and errors, on standard error under the component's name.
void local_Log(void* /*pvPrivate*/, int iLevel, const char* szFormat, va_list oArguments)
{
    const char* szLevel = iLevel == X264_LOG_ERROR ? "error" : iLevel == X264_LOG_WARNING ? "warning" : "info";
    char szMessage[512];
    vsnprintf(szMessage, sizeof(szMessage), szFormat, oArguments);
    fprintf(stderr, "OMX.TI.DUCATI.VIDENC x264 [%s]: %s", szLevel, szMessage);
}

const char* local_ProfileName(int iProfileIdc)
{
    switch (iProfileIdc)
    {
    case 66: return "baseline";
    case 77: return "main";
    default: return "high";
    }
}

} // namespace

CX264Session::CX264Session()
    : m_poEncoder(nullptr), m_oConfig(), m_szPreset(""), m_poNals(nullptr), m_iNalCount(0), m_uiAccessUnitSize(0)
{
    x264_picture_init(&m_oPictureIn);
    x264_picture_init(&m_oPictureOut);
}

CX264Session::~CX264Session()
{
    Close();
}

const char* CX264Session::PresetName(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset)
{
    switch (ePreset)
    {
    case OMX_Video_Enc_High_Speed:
    case OMX_Video_Enc_High_Speed_Med_Quality:
        return "ultrafast";
    case OMX_Video_Enc_High_Quality:
        return "veryfast";
    default:
        return "superfast";
    }
}

const char* CX264Session::FasterPreset(const char* szPreset)
{
    static const char* const s_aszFromSlowest[] = {"veryfast", "superfast", "ultrafast"};
    for (size_t i = 0; i + 1 < sizeof(s_aszFromSlowest) / sizeof(s_aszFromSlowest[0]); ++i)
        if (strcmp(szPreset, s_aszFromSlowest[i]) == 0)
            return s_aszFromSlowest[i + 1];
    return nullptr;
}

size_t CX264Session::PictureBytes() const
{
    const size_t uiLuma = static_cast<size_t>(m_oConfig.uiStride) * m_oConfig.uiHeight;
    return uiLuma + uiLuma / 2;
}

void CX264Session::SetRate(x264_param_t& roParam, const SH264SessionConfig& roConfig)
{
    // Average bit rate under a decoder-buffer model.
    const SH264BufferModel oModel = CH264EncoderSettings::BufferModel(roConfig.eRateControlPreset, roConfig.uiBitRate);
    roParam.rc.i_rc_method = X264_RC_ABR;
    roParam.rc.i_bitrate = static_cast<int>(oModel.uiKiloBitRate);
    roParam.rc.i_vbv_max_bitrate = static_cast<int>(oModel.uiMaxKiloBitRate);
    roParam.rc.i_vbv_buffer_size = static_cast<int>(oModel.uiBufferKiloBits);
}

bool CX264Session::Open(const SH264SessionConfig& roConfig)
{
    Close();
    x264_param_t oParam;
    const char* szPreset = PresetName(roConfig.eEncodingPreset);
    if (x264_param_default_preset(&oParam, szPreset, nullptr) < 0)
        return false;

    // Live coding: every slice thread codes its own band of each picture, nothing waits for
    // pictures to come.
    oParam.i_threads = CH264EncoderSettings::s_uiSliceThreads;
    oParam.b_sliced_threads = 1;
    oParam.i_sync_lookahead = 0;
    oParam.rc.i_lookahead = 0;
    oParam.rc.b_mb_tree = 0;
    oParam.b_vfr_input = 0;

    oParam.i_width = static_cast<int>(roConfig.uiWidth);
    oParam.i_height = static_cast<int>(roConfig.uiHeight);
    oParam.i_csp = X264_CSP_NV12;
    const unsigned long ulDivisor = std::gcd(static_cast<unsigned long>(roConfig.xFramerate), 65536ul);
    oParam.i_fps_num = static_cast<uint32_t>(roConfig.xFramerate / ulDivisor);
    oParam.i_fps_den = static_cast<uint32_t>(65536ul / ulDivisor);

    // A fixed picture pattern: an IDR picture every key interval and nowhere else, a fixed
    // number of B pictures between reference pictures.
    oParam.i_keyint_max = static_cast<int>(roConfig.uiKeyInterval);
    oParam.i_keyint_min = static_cast<int>(roConfig.uiKeyInterval);
    oParam.i_scenecut_threshold = 0;
    oParam.b_open_gop = 0;
    oParam.b_intra_refresh = 0;
    oParam.i_bframe = static_cast<int>(roConfig.uiBFrames);
    oParam.i_bframe_adaptive = X264_B_ADAPT_NONE;
    oParam.i_bframe_pyramid = X264_B_PYRAMID_NONE;
    oParam.i_frame_reference = static_cast<int>(roConfig.uiRefFrames);

    // The stream: start codes, parameter sets once (handed out apart), no delimiters.
    oParam.b_annexb = 1;
    oParam.b_repeat_headers = 0;
    oParam.b_aud = 0;
    oParam.i_level_idc = roConfig.iLevelIdc;
    oParam.b_cabac = roConfig.iProfileIdc != 66;
    oParam.analyse.b_transform_8x8 = roConfig.iProfileIdc == 100;

    SetRate(oParam, roConfig);
    oParam.rc.i_qp_min = roConfig.iQpMin;
    oParam.rc.i_qp_max = roConfig.iQpMax;

    oParam.i_log_level = X264_LOG_ERROR;
    oParam.pf_log = &local_Log;
    if (x264_param_apply_profile(&oParam, local_ProfileName(roConfig.iProfileIdc)) < 0)
        return false;

    m_poEncoder = x264_encoder_open(&oParam);
    if (m_poEncoder == nullptr)
        return false;
    m_oConfig = roConfig;
    m_szPreset = szPreset;

    // The codec's headers are SPS, PPS and an SEI naming the codec: only the first two are kept.
    x264_nal_t* poNals = nullptr;
    int iCount = 0;
    m_aucParameterSets.clear();
    if (x264_encoder_headers(m_poEncoder, &poNals, &iCount) < 0)
    {
        Close();
        return false;
    }
    for (int i = 0; i < iCount; ++i)
    {
        if (poNals[i].i_type == NAL_SPS || poNals[i].i_type == NAL_PPS)
            m_aucParameterSets.insert(m_aucParameterSets.end(), poNals[i].p_payload,
                                      poNals[i].p_payload + poNals[i].i_payload);
    }

    x264_picture_init(&m_oPictureIn);
    m_oPictureIn.img.i_csp = X264_CSP_NV12;
    m_oPictureIn.img.i_plane = 2;
    m_oPictureIn.img.i_stride[0] = static_cast<int>(roConfig.uiStride);
    m_oPictureIn.img.i_stride[1] = static_cast<int>(roConfig.uiStride);
    return true;
}

void CX264Session::Close()
{
    if (m_poEncoder != nullptr)
        x264_encoder_close(m_poEncoder);
    m_poEncoder = nullptr;
    m_poNals = nullptr;
    m_iNalCount = 0;
    m_uiAccessUnitSize = 0;
}

bool CX264Session::IsSlice(const x264_nal_t& roNal)
{
    return roNal.i_type == NAL_SLICE || roNal.i_type == NAL_SLICE_IDR;
}

int CX264Session::Encode(const uint8_t* pPicture, int64_t iPts, bool bForceIdr)
{
    m_poNals = nullptr;
    m_iNalCount = 0;
    m_uiAccessUnitSize = 0;
    if (m_poEncoder == nullptr)
        return -1;
    x264_picture_t* poIn = nullptr;
    if (pPicture != nullptr)
    {
        // The codec copies the picture into a frame of its own before it returns: the input
        // buffer is free again once this call is over.
        uint8_t* pLuma = const_cast<uint8_t*>(pPicture);
        m_oPictureIn.img.plane[0] = pLuma;
        m_oPictureIn.img.plane[1] = pLuma + static_cast<size_t>(m_oConfig.uiStride) * m_oConfig.uiHeight;
        m_oPictureIn.i_pts = iPts;
        m_oPictureIn.i_type = bForceIdr ? X264_TYPE_IDR : X264_TYPE_AUTO;
        poIn = &m_oPictureIn;
    }
    if (x264_encoder_encode(m_poEncoder, &m_poNals, &m_iNalCount, poIn, &m_oPictureOut) < 0)
    {
        m_poNals = nullptr;
        m_iNalCount = 0;
        return -1;
    }
    for (int i = 0; i < m_iNalCount; ++i)
    {
        if (IsSlice(m_poNals[i]))
            m_uiAccessUnitSize += static_cast<size_t>(m_poNals[i].i_payload);
    }
    return m_uiAccessUnitSize > 0 ? 1 : 0;
}

void CX264Session::CopyAccessUnit(uint8_t* pDestination) const
{
    for (int i = 0; i < m_iNalCount; ++i)
    {
        if (!IsSlice(m_poNals[i]))
            continue;
        memcpy(pDestination, m_poNals[i].p_payload, static_cast<size_t>(m_poNals[i].i_payload));
        pDestination += m_poNals[i].i_payload;
    }
}

int CX264Session::DelayedPictures() const
{
    return m_poEncoder != nullptr ? x264_encoder_delayed_frames(m_poEncoder) : 0;
}

bool CX264Session::SetBitRate(unsigned uiBitRate)
{
    if (m_poEncoder == nullptr)
        return false;
    x264_param_t oParam;
    x264_encoder_parameters(m_poEncoder, &oParam);
    m_oConfig.uiBitRate = uiBitRate;
    SetRate(oParam, m_oConfig);
    return x264_encoder_reconfig(m_poEncoder, &oParam) == 0;
}

bool CX264Session::SpeedUp()
{
    const char* szFaster = FasterPreset(m_szPreset);
    if (m_poEncoder == nullptr || szFaster == nullptr)
        return false;
    x264_param_t oFaster;
    if (x264_param_default_preset(&oFaster, szFaster, nullptr) < 0)
        return false;
    // What the codec lets a running session change, as the faster preset has it. The entropy
    // coding, the references, the weighted prediction and the quantiser adaptation stay: they
    // are the stream's or the rate control's.
    x264_param_t oParam;
    x264_encoder_parameters(m_poEncoder, &oParam);
    oParam.b_deblocking_filter = oFaster.b_deblocking_filter;
    oParam.analyse.intra = oFaster.analyse.intra;
    oParam.analyse.inter = oFaster.analyse.inter;
    oParam.analyse.i_me_method = oFaster.analyse.i_me_method;
    oParam.analyse.i_me_range = oFaster.analyse.i_me_range;
    oParam.analyse.i_subpel_refine = oFaster.analyse.i_subpel_refine;
    oParam.analyse.i_trellis = oFaster.analyse.i_trellis;
    oParam.analyse.b_mixed_references = oFaster.analyse.b_mixed_references;
    oParam.analyse.b_transform_8x8 = oParam.analyse.b_transform_8x8 && oFaster.analyse.b_transform_8x8;
    if (x264_encoder_reconfig(m_poEncoder, &oParam) != 0)
        return false;
    m_szPreset = szFaster;
    return true;
}
