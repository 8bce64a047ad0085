#pragma once
// `quorvane stream --control`: the glue between the stream and the browser
// control. With it the stream plays through an in-process processor that the
// server edits under a control lock; the audio loop only calls processor_run.
#include <memory>
#include <mutex>
#include <string>

#include "cli/commands.h"
#include "cli/wav_stream.h"
#include "cli/web_control.h"
#include "host/processor.h"

namespace qv::cli {

struct StreamControl {
    ControlAddress address;
    std::string token;  // empty: no token required (loopback only)
    std::unique_ptr<Processor> processor;
    std::mutex lock;
    WebControlPtr server;
};

// Checks --control and --control-token before anything is read (creating
// the token file when it does not exist). False with error_is_usage for a
// bad address, a non-loopback address without a token, or a refused token.
bool prepare_stream_control(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage);

// Builds the processor playing what the session put on air and starts the
// server; prints the panel's address on standard error.
bool start_stream_control(StreamControl& c, const StreamOptions& o, const Session& session,
                          const WavStreamFormat& format, std::string& error);

}  // namespace qv::cli
