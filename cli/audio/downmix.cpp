#include "cli/audio/downmix.h"

#include <ebur128.h>
#include <sndfile.h>

#include <cmath>

namespace qv::cli {

namespace {

constexpr float kMinus3dB = 0.70710678f;  // 1/sqrt(2)

struct Position {
    int sf;  // SF_CHANNEL_MAP_*
    const char* name;
    float left, right;
    int loudness;  // libebur128 channel
};

// Where each speaker goes: fronts to their side, centres to both at -3 dB,
// surrounds, rears and heights to their side at -3 dB, the LFE nowhere.
constexpr Position kPositions[] = {
    {SF_CHANNEL_MAP_MONO, "M", kMinus3dB, kMinus3dB, EBUR128_CENTER},
    {SF_CHANNEL_MAP_LEFT, "L", 1, 0, EBUR128_LEFT},
    {SF_CHANNEL_MAP_RIGHT, "R", 0, 1, EBUR128_RIGHT},
    {SF_CHANNEL_MAP_CENTER, "C", kMinus3dB, kMinus3dB, EBUR128_CENTER},
    {SF_CHANNEL_MAP_FRONT_LEFT, "FL", 1, 0, EBUR128_LEFT},
    {SF_CHANNEL_MAP_FRONT_RIGHT, "FR", 0, 1, EBUR128_RIGHT},
    {SF_CHANNEL_MAP_FRONT_CENTER, "FC", kMinus3dB, kMinus3dB, EBUR128_CENTER},
    {SF_CHANNEL_MAP_REAR_CENTER, "BC", kMinus3dB, kMinus3dB, EBUR128_Mp180},
    {SF_CHANNEL_MAP_REAR_LEFT, "BL", kMinus3dB, 0, EBUR128_Mp135},
    {SF_CHANNEL_MAP_REAR_RIGHT, "BR", 0, kMinus3dB, EBUR128_Mm135},
    {SF_CHANNEL_MAP_LFE, "LFE", 0, 0, EBUR128_UNUSED},
    {SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, "FLC", 1, 0, EBUR128_MpSC},
    {SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, "FRC", 0, 1, EBUR128_MmSC},
    {SF_CHANNEL_MAP_SIDE_LEFT, "SL", kMinus3dB, 0, EBUR128_Mp110},
    {SF_CHANNEL_MAP_SIDE_RIGHT, "SR", 0, kMinus3dB, EBUR128_Mm110},
    {SF_CHANNEL_MAP_TOP_CENTER, "TC", kMinus3dB, kMinus3dB, EBUR128_Tp000},
    {SF_CHANNEL_MAP_TOP_FRONT_LEFT, "TFL", kMinus3dB, 0, EBUR128_Up030},
    {SF_CHANNEL_MAP_TOP_FRONT_RIGHT, "TFR", 0, kMinus3dB, EBUR128_Um030},
    {SF_CHANNEL_MAP_TOP_FRONT_CENTER, "TFC", kMinus3dB, kMinus3dB, EBUR128_Up000},
    {SF_CHANNEL_MAP_TOP_REAR_LEFT, "TBL", kMinus3dB, 0, EBUR128_Up135},
    {SF_CHANNEL_MAP_TOP_REAR_RIGHT, "TBR", 0, kMinus3dB, EBUR128_Um135},
    {SF_CHANNEL_MAP_TOP_REAR_CENTER, "TBC", kMinus3dB, kMinus3dB, EBUR128_Up180},
};

const Position* find_position(int sf) {
    for (const Position& p : kPositions)
        if (p.sf == sf) return &p;
    return nullptr;
}

// The WAVE channel mask's order, which a WAV without a mask implies.
constexpr int kWaveOrder[] = {SF_CHANNEL_MAP_FRONT_LEFT,
                              SF_CHANNEL_MAP_FRONT_RIGHT,
                              SF_CHANNEL_MAP_FRONT_CENTER,
                              SF_CHANNEL_MAP_LFE,
                              SF_CHANNEL_MAP_REAR_LEFT,
                              SF_CHANNEL_MAP_REAR_RIGHT,
                              SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
                              SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
                              SF_CHANNEL_MAP_REAR_CENTER,
                              SF_CHANNEL_MAP_SIDE_LEFT,
                              SF_CHANNEL_MAP_SIDE_RIGHT,
                              SF_CHANNEL_MAP_TOP_CENTER,
                              SF_CHANNEL_MAP_TOP_FRONT_LEFT,
                              SF_CHANNEL_MAP_TOP_FRONT_CENTER,
                              SF_CHANNEL_MAP_TOP_FRONT_RIGHT,
                              SF_CHANNEL_MAP_TOP_REAR_LEFT,
                              SF_CHANNEL_MAP_TOP_REAR_CENTER,
                              SF_CHANNEL_MAP_TOP_REAR_RIGHT};

// The orders FLAC and Vorbis define for 3 to 8 channels.
std::vector<int> container_order(int channels, int sf_format) {
    constexpr int L = SF_CHANNEL_MAP_FRONT_LEFT, R = SF_CHANNEL_MAP_FRONT_RIGHT, C = SF_CHANNEL_MAP_FRONT_CENTER,
                  LFE = SF_CHANNEL_MAP_LFE, BL = SF_CHANNEL_MAP_REAR_LEFT, BR = SF_CHANNEL_MAP_REAR_RIGHT,
                  BC = SF_CHANNEL_MAP_REAR_CENTER, SL = SF_CHANNEL_MAP_SIDE_LEFT, SR = SF_CHANNEL_MAP_SIDE_RIGHT;
    const int container = sf_format & SF_FORMAT_TYPEMASK;
    if (container == SF_FORMAT_FLAC && channels <= 8) {
        static const std::vector<int> flac[] = {{L, R, C},
                                                {L, R, BL, BR},
                                                {L, R, C, BL, BR},
                                                {L, R, C, LFE, BL, BR},
                                                {L, R, C, LFE, BC, SL, SR},
                                                {L, R, C, LFE, BL, BR, SL, SR}};
        return flac[channels - 3];
    }
    if (container == SF_FORMAT_OGG && channels <= 8) {
        static const std::vector<int> vorbis[] = {{L, C, R},
                                                  {L, R, BL, BR},
                                                  {L, C, R, BL, BR},
                                                  {L, C, R, BL, BR, LFE},
                                                  {L, C, R, SL, SR, BC, LFE},
                                                  {L, C, R, SL, SR, BL, BR, LFE}};
        return vorbis[channels - 3];
    }
    std::vector<int> order;
    for (int i = 0; i < channels; ++i)
        order.push_back(i < static_cast<int>(std::size(kWaveOrder)) ? kWaveOrder[i] : SF_CHANNEL_MAP_INVALID);
    return order;
}

}  // namespace

bool downmix_plan(Downmix& d, int channels, const std::vector<int>& positions, int sf_format, std::string& error) {
    const std::vector<int> order =
        static_cast<int>(positions.size()) == channels ? positions : container_order(channels, sf_format);
    d = Downmix{};
    d.channels = channels;
    for (int ch = 0; ch < channels; ++ch) {
        const Position* p = find_position(order[static_cast<std::size_t>(ch)]);
        if (p == nullptr) {
            error = "channel " + std::to_string(ch + 1) + " of " + std::to_string(channels) +
                    " has no speaker position to fold to stereo";
            return false;
        }
        d.left.push_back(p->left);
        d.right.push_back(p->right);
        d.loudness.push_back(p->loudness);
        d.layout += (ch ? " " : "") + std::string(p->name);
    }
    return true;
}

void downmix_apply(Downmix& d, const float* in, std::size_t frames, float* out) {
    const std::size_t n = static_cast<std::size_t>(d.channels);
    for (std::size_t f = 0; f < frames; ++f) {
        const float* frame = in + f * n;
        float l = 0, r = 0;
        for (std::size_t ch = 0; ch < n; ++ch) {
            l += d.left[ch] * frame[ch];
            r += d.right[ch] * frame[ch];
        }
        // 16-bit conversion clips at 32767/32768 of full scale.
        d.overloads += (std::fabs(l) > 32767.0f / 32768.0f) + (std::fabs(r) > 32767.0f / 32768.0f);
        out[2 * f] = l;
        out[2 * f + 1] = r;
    }
}

}  // namespace qv::cli
