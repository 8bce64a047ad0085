#pragma once
// The settings folder and its numbered processes, qv$N.dat for N = 0..100:
// $XDG_CONFIG_HOME/quorvane (else ~/.config/quorvane), or --settings-dir.
// Only the default folder is ever created, and only by commands that store a
// process; a --settings-dir folder must exist.
#include <optional>
#include <string>

#include "settings/records.h"

namespace qv::cli {

// The folder to use: the option when given, else the default one. Nothing
// is created or checked.
bool settings_folder(const std::string& option, std::string& dir, std::string& error);

// The folder for a command that stores processes: a --settings-dir folder
// must exist; the default folder is created when missing.
bool settings_folder_for_writing(const std::string& option, std::string& dir, std::string& error);

// A command-line argument naming a process: a number 0..100 (a process of
// the settings folder) or a path. False for a number out of range.
bool process_target(const std::string& arg, const std::string& settings_dir_option, std::string& path,
                    std::optional<int>& number, std::string& error);

// The process a run plays, without writing anything anywhere:
// - number given: process N of the settings folder; a missing process is an
//   error that names `quorvane preset list` (and the factory process of that
//   number, if there is one, with `preset install-factory`); so is a file
//   that is not a valid process, or a --settings-dir folder that is missing;
// - no number: process 0 of the settings folder when its file exists, else
//   the built-in default process.
// description tells which, e.g. `process 3 "NEWS"` or `built-in default "DEFAULT"`.
bool resolve_process(const std::string& settings_dir_option, std::optional<int> number, ProcessParams& out,
                     std::string& description, std::string& error);

// "process N does not exist in DIR (`quorvane preset list` ...)", with the
// factory process of that number when there is one.
std::string missing_process_message(const std::string& dir, int number);

// `process N "NAME"` or `preset FILE "NAME"` for summaries.
std::string quoted_process_name(const ProcessParams& p);

}  // namespace qv::cli
