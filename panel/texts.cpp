#include "panel/texts.h"

namespace qv {

const char module_description[36] = "Quorvane 2.0a                      ";
const char format_message[117] =
    "Quorvane 2.0a                                "
    "Sample rate or resolution is wrong, use 44.1KHz 16bits. Process stopped";

static_assert(sizeof("Quorvane 2.0a                      ") == 36);
static_assert(sizeof("Quorvane 2.0a                                ") == 46);
static_assert(sizeof("Sample rate or resolution is wrong, use 44.1KHz 16bits. Process stopped") == 72);

}  // namespace qv
