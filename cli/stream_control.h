#pragma once
// `quorvane stream --control`: the stream lends its session's processor to
// the browser control, which works it under the session's control lock; the
// audio loop never takes it.
#include <string>

#include "cli/audio/wav_stream.h"
#include "cli/commands.h"
#include "control/processor_control.h"
#include "control/web_control.h"
#include "engine/processor.h"

namespace qv::cli {

struct StreamControl {
    control::ControlAddress address;
    std::string token;  // empty: no token required (loopback only)
    control::WebControlPtr server;
};

// Checks --control and --control-token before anything is read (creating
// the token file when it does not exist). False with error_is_usage for a
// bad address, a non-loopback address without a token, or a refused token.
bool prepare_stream_control(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage);

// Starts the server on the session's processor and control lock; prints the
// panel's address on standard error.
bool start_stream_control(StreamControl& c, const StreamOptions& o, Session& session, const WavStreamFormat& format,
                          std::string& error);

}  // namespace qv::cli
