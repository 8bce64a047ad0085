#pragma once
// `quorvane stream --control`: the stream lends its session's processor to
// the browser control, which works it under the session's control lock; the
// audio loop never takes it. With --control or a dead-air option the
// station monitor runs too, fed by the audio loop through a signal tap.
#include <memory>
#include <string>

#include "cli/audio/wav_stream.h"
#include "cli/commands.h"
#include "control/control_registry.h"
#include "control/processor_control.h"
#include "control/signal_tap.h"
#include "control/station_monitor.h"
#include "engine/processor.h"

namespace qv::cli {

// Destroyed in reverse order: the registration with the server (the last
// one stops it), then the monitor it reads, then the tap the monitor reads.
struct StreamControl {
    control::ControlAddress address;
    control::ControlTokens tokens;  // empty: no token required (loopback only)
    control::DeadAirRule dead_air;
    bool monitored = false;  // --control or a dead-air option
    std::unique_ptr<control::SignalTap> tap;
    control::StationMonitorPtr monitor;
    control::RegistrationPtr server;
};

// Checks --control, the token files and the dead-air options before anything
// is read (creating a token file that does not exist). False with
// error_is_usage for a bad address, a non-loopback address without a token,
// a refused token, or a read token without a full one.
bool prepare_stream_control(const StreamOptions& o, StreamControl& c, std::string& error, bool& error_is_usage);

// Starts the station monitor on a new tap for output blocks of `channels`;
// the stream's log takes its events.
bool start_stream_monitor(StreamControl& c, int channels, std::string& error);

// Starts the server on the session's processor and control lock (and the
// monitor, when it runs); prints the panel's address on standard error.
bool start_stream_control(StreamControl& c, const StreamOptions& o, Session& session, const WavStreamFormat& format,
                          std::string& error);

}  // namespace qv::cli
