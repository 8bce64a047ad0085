#include "chain/output_stages.h"
#include "chain/stereo_expander.h"
#include "chain/test_tone.h"
#include "host/instance.h"

namespace qv {

int instance_init(Quorvane& q, DspModule*) {
    build_test_tone_table(q.chain.tone);
    build_fir_taps(q.chain.output);
    clear_stereo_expander(q.chain.expander);
    return 0;
}

void instance_config(Quorvane&, DspModule*) {}

void instance_quit(Quorvane&, DspModule*) {}

}  // namespace qv
