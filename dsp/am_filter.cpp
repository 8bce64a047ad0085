#include "dsp/am_filter.h"

namespace qv {

// Section 1, 44.1 kHz: b0..b10, then a1..a10.
const AmSectionCoefs kAmSection1Coefs = {
    {-0.0004217965280520592, -0.0004995986118438077, 0.0072597348156183215, -0.02213164776922598, 0.03993863318575293,
     -0.05237840082682249, 0.05494326075982866, -0.046512962753525816, 0.030204480903955763, -0.013129143059234022,
     0.0030397507477321123},
    {-7.144031883100494, 23.39501318828425, -45.82820058806139, 58.79374344888247, -50.719232868590076,
     28.82869248074192, -9.834329020546654, 1.3748264541210065, 0.21112360011261824, -0.07729250097946681},
};

// Section 2, 44.1 kHz: b0..b10, then a1..a10.
const AmSectionCoefs kAmSection2Coefs = {
    {-0.011959490468915633, 0.0912909249013467, -0.3051293982380383, 0.5666585991719845, -0.5791205202838412,
     0.1664584090691492, 0.39331538288037826, -0.6369005552346121, 0.46968345870580164, -0.1874726978562238,
     0.03324524745625965},
    {-7.744224300034943, 27.66825058547658, -59.94184589556576, 87.06692202267901, -88.48019339102296,
     63.63572328489179, -31.95041026091168, 10.707449614880751, -2.1608168672066865, 0.19921456691719497},
};

namespace {

// w = x - a1 w[n-1] - ... - a10 w[n-10]; y = b0 w + b1 w[n-1] + ... + b10 w[n-10],
// each evaluated term by term from left to right like the lower-order sections.
inline void am_step(const AmSectionCoefs& c, Pair (&h)[10], double& a, double& b) {
    Pair w = make_pair(a, b);
    for (int m = 0; m < 10; ++m) w -= c.a[m] * h[m];
    Pair y = c.b[0] * w;
    for (int m = 0; m < 10; ++m) y += c.b[m + 1] * h[m];
    for (int m = 9; m > 0; --m) h[m] = h[m - 1];
    h[0] = w;
    a = y[0];
    b = y[1];
}

}  // namespace

void am_filter_section1(AmSectionState& s, double& a, double& b) { am_step(kAmSection1Coefs, s.w, a, b); }

void am_filter_section2(AmSectionState& s, double& a, double& b) { am_step(kAmSection2Coefs, s.w, a, b); }

}  // namespace qv
