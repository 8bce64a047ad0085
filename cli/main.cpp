// quorvane: the broadcast processor on the command line. Files and streams
// go through the processing chain; processes are listed, shown, edited and
// installed here where there is no panel.
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
    "bit (mono=1) or section.B.S.NAME (section.0.0.ratio_x10=60); a bare integer is the stored word, a value with "
    "the panel's unit reads as the panel shows it (gate_threshold_db=-40dB); names, units and ranges: "
    "`quorvane preset params`";
constexpr char kSettingsDirHelp[] =
    "Settings folder holding the processes qv$N.dat (default $XDG_CONFIG_HOME/quorvane or ~/.config/quorvane); "
    "it must exist, only the default folder is created when a process is stored";
constexpr char kTargetHelp[] =
    "Process number 0..100 of the settings folder, or a process file path (./N for a file named N)";

void add_choice_options(CLI::App* cmd, ProcessChoice& choice, int& number) {
    auto* process = cmd->add_option("--process", number,
                                    "Process number 0..100 of the settings folder (`quorvane preset list`); without "
                                    "it, process 0 when stored, else the built-in default")
                        ->check(CLI::Range(0, 100));
    auto* preset = cmd->add_option("--preset", choice.preset_file, "Process file (qv$N.dat) to play; never modified");
    process->excludes(preset);
    cmd->add_option("--set", choice.sets, kSetHelp)->allow_extra_args(false)->type_name("NAME=VALUE");
    cmd->add_option("--settings-dir", choice.settings_dir, kSettingsDirHelp)->type_name("DIR");
}

// -q and -v, on every subcommand.
void add_verbosity(CLI::App* cmd, bool& quiet, bool& verbose) {
    auto* q = cmd->add_flag("-q,--quiet", quiet, "Say nothing but errors (no summary, no progress)");
    cmd->add_flag("-v,--verbose", verbose, "Say more: formats, tags, the process played")->excludes(q);
}

// Every option of the command line, bound while it is parsed, and the
// subcommands, to tell which one it chose.
struct CommandLine {
    qv::cli::ProcessOptions process_options;
    qv::cli::StreamOptions stream_options;
    qv::cli::PresetOptions preset_options;
    int process_number = -1;  // --process of `process`, when given
    int stream_number = -1;   // --process of `stream`
    double loudness = 0, true_peak = 0;
    CLI::Option* loudness_opt = nullptr;
    CLI::Option* true_peak_opt = nullptr;
    bool quiet = false, verbose = false;
    CLI::App* process = nullptr;
    CLI::App* stream = nullptr;
    CLI::App *list = nullptr, *params = nullptr, *show = nullptr, *set = nullptr, *defaults = nullptr,
             *install = nullptr;
};

void add_process(CLI::App& app, CommandLine& c) {
    CLI::App* process = c.process =
        app.add_subcommand("process", "Process an audio file into a new 44.1 kHz 16-bit file");
    process
        ->add_option(
            "IN", c.process_options.input,
            "Input audio file (WAV, FLAC, Ogg, AIFF, ...; mono or stereo, more with --downmix), or - for a 16-bit "
            "WAV stream on standard input")
        ->required();
    process
        ->add_option("OUT", c.process_options.output,
                     "Output file, .wav, .flac or .aiff, written only on success; or - for WAV on standard output")
        ->required();
    add_choice_options(process, c.process_options.choice, c.process_number);
    process->add_option("--plot", c.process_options.plot, "Write short-term loudness and AGC gain over time as SVG")
        ->type_name("FILE.svg");
    process->add_flag("--keep-latency", c.process_options.keep_latency,
                      "Keep the chain's look-ahead delay at the start of the output (by default the output is aligned "
                      "with the input and as long as it)");
    c.loudness_opt = process
                         ->add_option("--loudness", c.loudness,
                                      "Deliver at this integrated loudness (e.g. -16): the chain's output is "
                                      "measured, then written again with one gain (TPDF-dithered)")
                         ->type_name("LUFS")
                         ->check(CLI::Range(-70.0, 0.0));
    c.true_peak_opt =
        process
            ->add_option("--true-peak", c.true_peak,
                         "Deliver with true peaks at most this high (e.g. -1); with --loudness the lower gain wins")
            ->type_name("DBTP")
            ->check(CLI::Range(-30.0, 0.0));
    process->add_flag("--json", c.process_options.json,
                      "Print the summary as one JSON object on standard output (standard error when OUT is -)");
    auto* force =
        process->add_flag("-f,--force", c.process_options.force, "Replace OUT even when it is write-protected");
    process->add_flag("-n,--no-clobber", c.process_options.no_clobber, "Never replace an existing OUT")
        ->excludes(force);
    process->add_flag("--downmix", c.process_options.downmix,
                      "Fold more than two channels to stereo (centre and surrounds at -3 dB, LFE dropped)");
    process->footer(
        "Other rates (8 kHz to 768 kHz) are resampled to 44.1 kHz (soxr, high quality); 24-bit and float input is\n"
        "dithered to 16 bits. Tags (title, artist, album, comment, ...) are copied where OUT's format holds them.\n"
        "A summary (peaks, true peak, loudness, loudness range before and after, speed) goes to standard error.");
}

// The browser control panel (control/web_control.h) and the station monitor
// (control/station_monitor.h) of `stream`.
void add_stream_control(CLI::App* stream, qv::cli::StreamOptions& o) {
    stream
        ->add_option("--control", o.control,
                     "Serve a control panel and its HTTP API on [ADDR:]PORT (default address 127.0.0.1; PORT 0 "
                     "picks a free one; the address is printed on standard error)")
        ->type_name("[ADDR:]PORT");
    stream
        ->add_option("--control-token", o.control_token,
                     "Require the bearer token in FILE on every API request (created with mode 0600 when missing); "
                     "needed for any address but loopback")
        ->type_name("FILE");
    stream
        ->add_option("--control-read-token", o.control_read_token,
                     "Also accept the bearer token in FILE, for reading only (state, meters, loudness, health); same "
                     "rules as --control-token, which it needs")
        ->type_name("FILE");
    stream
        ->add_option("--dead-air-below", o.dead_air_below_dbfs,
                     "Dead-air alarm: input peaks below DBFS (default -50) for --dead-air-after seconds; logged, "
                     "and shown by the control panel")
        ->type_name("DBFS")
        ->check(CLI::Range(-90.0, -10.0));
    stream->add_option("--dead-air-after", o.dead_air_after_s, "Dead-air alarm: seconds of quiet input (default 10)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1.0, 3600.0));
}

void add_stream(CLI::App& app, CommandLine& c) {
    CLI::App* stream = c.stream =
        app.add_subcommand("stream", "Process a live stream from standard input to standard output");
    add_choice_options(stream, c.stream_options.choice, c.stream_number);
    auto* raw =
        stream->add_flag("--raw", c.stream_options.raw, "Headerless signed 16-bit little-endian PCM in and out");
    stream->add_option("--channels", c.stream_options.channels, "Channels of raw input (1 or 2, default 2)")
        ->check(CLI::IsMember({1, 2}))
        ->needs(raw);
    stream->add_option("--rate", c.stream_options.rate, "Sample rate of raw input in Hz (default 44100)")
        ->check(CLI::Range(8000, 768000))
        ->needs(raw);
    add_stream_control(stream, c.stream_options);
    stream->add_option("--log", c.stream_options.log_file, "Append messages (start, reloads, errors) to FILE as well")
        ->type_name("FILE");
    stream->footer(
        "Input: a WAV header (streaming lengths 0 or 0xFFFFFFFF accepted) and 16-bit PCM at 8 kHz to 768 kHz, or\n"
        "--raw PCM.\n"
        "Output: 44.1 kHz 16-bit with the same channels, WAV unless --raw, flushed block by block; delayed by the\n"
        "process's look-ahead (reported at the start).\n"
        "SIGHUP: read the process again (with --set on top) and put it on air at the next block.\n"
        "Example: ffmpeg -i in.mp3 -f wav -ac 2 -ar 44100 - | quorvane stream | ffplay -");
}

void add_preset(CLI::App& app, CommandLine& c) {
    auto* preset = app.add_subcommand("preset", "List, show, edit and install processes");
    preset->require_subcommand(1, 1);
    c.list = preset->add_subcommand("list", "List the processes of the settings folder: number, name, modified");
    c.params = preset->add_subcommand(
        "params",
        "List every parameter stage by stage: panel label, unit, range, as the panel shows it, default, "
        "and which have no effect on the sound");
    c.show = preset->add_subcommand("show", "Print every parameter, option bit and section record of a process");
    c.show->add_option("N|FILE", c.preset_options.target, kTargetHelp)->required();
    c.set = preset->add_subcommand(
        "set", "Change words of a stored process within the panel's ranges: the file is rewritten (atomically)");
    c.set->add_option("N|FILE", c.preset_options.target, kTargetHelp)->required();
    c.set
        ->add_option("NAME=VALUE", c.preset_options.assignments,
                     "Words to change (repeatable): a global name (overdrive_db=12), an option bit (mono=1) or "
                     "section.B.S.NAME; a value with the panel's unit reads as the panel shows it "
                     "(gate_threshold_db=-40dB); names, units and ranges: `quorvane preset params`")
        ->required();
    c.defaults = preset->add_subcommand("defaults", "Write the default process as N or FILE (replacing it)");
    c.defaults->add_option("N|FILE", c.preset_options.target, kTargetHelp)->required();
    c.install = preset->add_subcommand(
        "install-factory", "Store the factory processes (90 and up) at their numbers where no process is stored");
    for (CLI::App* cmd : {c.list, c.show, c.set, c.defaults, c.install})
        cmd->add_option("--settings-dir", c.preset_options.settings_dir, kSettingsDirHelp)->type_name("DIR");
}

// The chosen subcommand, with what parsing left to set.
int run(CommandLine& c) {
    if (c.loudness_opt->count() > 0) c.process_options.delivery.loudness_lufs = c.loudness;
    if (c.true_peak_opt->count() > 0) c.process_options.delivery.true_peak_dbtp = c.true_peak;
    qv::cli::g_verbosity = c.quiet ? qv::cli::kQuiet : c.verbose ? qv::cli::kVerbose : qv::cli::kNormal;
    if (c.process_number >= 0) c.process_options.choice.process_number = c.process_number;
    if (c.stream_number >= 0) c.stream_options.choice.process_number = c.stream_number;
    if (*c.process) return qv::cli::run_process(c.process_options);
    if (*c.stream) return qv::cli::run_stream(c.stream_options);
    if (*c.list) return qv::cli::run_preset_list(c.preset_options);
    if (*c.params) return qv::cli::run_preset_params();
    if (*c.show) return qv::cli::run_preset_show(c.preset_options);
    if (*c.set) return qv::cli::run_preset_set(c.preset_options);
    if (*c.defaults) return qv::cli::run_preset_defaults(c.preset_options);
    if (*c.install) return qv::cli::run_preset_install_factory(c.preset_options);
    return qv::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quorvane " QUORVANE_VERSION ": on-air broadcast audio processor", "quorvane"};
    app.set_version_flag("--version", "quorvane " QUORVANE_VERSION);
    app.require_subcommand(1, 1);
    app.footer("Exit status: 0 success, 1 processing failure, 2 usage error.");
    CommandLine c;
    add_process(app, c);
    add_stream(app, c);
    add_preset(app, c);
    for (CLI::App* cmd : {c.process, c.stream, c.list, c.params, c.show, c.set, c.defaults, c.install})
        add_verbosity(cmd, c.quiet, c.verbose);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? qv::cli::kExitOk : qv::cli::kExitUsage;
    }
    return run(c);
}
