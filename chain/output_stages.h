#pragma once
// The output stages of the chain: output filter, final soft clip, output
// level and AM filter.
#include "chain/output_filter.h"
#include "chain/output_level.h"
