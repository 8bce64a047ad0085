// quorvane: the broadcast processor on the command line. Files and streams
// go through the processing module exactly as a media player drives it;
// process files are edited here where there is no panel.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

using qv::cli::ProcessChoice;

constexpr char kSetHelp[] =
    "Override one word of the process for this run only (repeatable): a global name (overdrive_db=12), an option "
    "bit (mono=1) or section.B.S.NAME (section.0.0.ratio_x10=60); names and ranges: `quorvane preset show`";

void add_choice_options(CLI::App* cmd, ProcessChoice& choice, int& number) {
    auto* process = cmd->add_option("--process", number,
                                    "Process number 0..100 from the settings directory (default 0; the defaults are "
                                    "written there when the file is missing, as a player does)")
                        ->check(CLI::Range(0, 100));
    auto* preset = cmd->add_option("--preset", choice.preset_file, "Process file (qv$N.dat) to play; never modified");
    process->excludes(preset);
    cmd->add_option("--set", choice.sets, kSetHelp)->allow_extra_args(false)->type_name("NAME=VALUE");
    cmd->add_option("--settings-dir", choice.settings_dir,
                    "Directory of the process files and winamp.ini (default $XDG_CONFIG_HOME/quorvane or "
                    "~/.config/quorvane)")
        ->type_name("DIR");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quorvane " QUORVANE_VERSION ": on-air broadcast audio processor", "quorvane"};
    app.set_version_flag("--version", "quorvane " QUORVANE_VERSION);
    app.require_subcommand(1, 1);
    app.footer("Exit status: 0 success, 1 processing failure, 2 usage error.");

    qv::cli::ProcessOptions process_options;
    int process_number = -1;
    auto* process = app.add_subcommand("process", "Process an audio file into a new 44.1 kHz 16-bit file");
    process->add_option("IN", process_options.input, "Input audio file (WAV, FLAC, Ogg, AIFF, ...; mono or stereo)")
        ->required();
    process->add_option("OUT", process_options.output, "Output file, .wav, .flac or .aiff; written only on success")
        ->required();
    add_choice_options(process, process_options.choice, process_number);
    process->add_option("--plot", process_options.plot, "Write short-term loudness and AGC gain over time as SVG")
        ->type_name("FILE.svg");
    process->add_flag("-q,--quiet", process_options.quiet, "No summary");
    process->footer(
        "Other rates are resampled to 44.1 kHz (soxr, high quality); 24-bit and float input is dithered to 16 bits.\n"
        "A summary (peaks, true peak, loudness, loudness range before and after, speed) goes to standard error.");

    qv::cli::StreamOptions stream_options;
    int stream_number = -1;
    auto* stream = app.add_subcommand("stream", "Process a live stream from standard input to standard output");
    add_choice_options(stream, stream_options.choice, stream_number);
    auto* raw = stream->add_flag("--raw", stream_options.raw, "Headerless signed 16-bit little-endian PCM in and out");
    stream->add_option("--channels", stream_options.channels, "Channels of raw input (1 or 2, default 2)")
        ->check(CLI::IsMember({1, 2}))
        ->needs(raw);
    stream->add_option("--rate", stream_options.rate, "Sample rate of raw input in Hz (default 44100)")
        ->check(CLI::Range(1000, 768000))
        ->needs(raw);
    // Browser control panel (cli/web_control.h).
    stream
        ->add_option("--control", stream_options.control,
                     "Serve a control panel and its HTTP API on [ADDR:]PORT (default address 127.0.0.1; PORT 0 "
                     "picks a free one; the address is printed on standard error)")
        ->type_name("[ADDR:]PORT");
    stream
        ->add_option("--control-token", stream_options.control_token,
                     "Require the bearer token in FILE on every API request (created with mode 0600 when missing); "
                     "needed for any address but loopback")
        ->type_name("FILE");
    stream->footer(
        "Input: a WAV header (streaming lengths 0 or 0xFFFFFFFF accepted) and 16-bit PCM, or --raw PCM.\n"
        "Output: 44.1 kHz 16-bit with the same channels, WAV unless --raw, flushed block by block.\n"
        "Example: ffmpeg -i in.mp3 -f wav -ac 2 -ar 44100 - | quorvane stream | ffplay -");

    auto* preset = app.add_subcommand("preset", "Show or edit a process file (qv$N.dat)");
    preset->require_subcommand(1, 1);
    std::string show_file, set_file, defaults_file;
    std::vector<std::string> set_values;
    auto* show = preset->add_subcommand("show", "Print every parameter, option bit and section record");
    show->add_option("FILE", show_file, "Process file")->required();
    auto* set =
        preset->add_subcommand("set", "Change words within the panel's ranges; the file is rewritten atomically");
    set->add_option("FILE", set_file, "Process file")->required();
    set->add_option("NAME=VALUE", set_values, kSetHelp)->required();
    auto* defaults = preset->add_subcommand("defaults", "Write the default process to FILE");
    defaults->add_option("FILE", defaults_file, "Process file to create or overwrite")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? qv::cli::kExitOk : qv::cli::kExitUsage;
    }

    if (process_number >= 0) process_options.choice.process_number = process_number;
    if (stream_number >= 0) stream_options.choice.process_number = stream_number;
    if (*process) return qv::cli::run_process(process_options);
    if (*stream) return qv::cli::run_stream(stream_options);
    if (*show) return qv::cli::run_preset_show(show_file);
    if (*set) return qv::cli::run_preset_set(set_file, set_values);
    if (*defaults) return qv::cli::run_preset_defaults(defaults_file);
    return qv::cli::kExitUsage;
}
