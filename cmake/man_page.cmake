# Writes the manual page quorvane.1 from the tool's own help: help2man reads
# `quorvane --help` and `--version`; the help of every subcommand follows as
# a section of its own. cmake -DTOOL=... -DHELP2MAN=... -DOUT=... -P man_page.cmake
set(commands "process" "stream" "preset list" "preset params" "preset show" "preset set" "preset defaults"
             "preset install-factory")
set(include "[SUBCOMMANDS]\n")
foreach(command IN LISTS commands)
  separate_arguments(args UNIX_COMMAND "${command} --help")
  execute_process(COMMAND ${TOOL} ${args} OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "quorvane ${command} --help failed (${rc})")
  endif()
  # roff: a backslash is \e, and a line may not start with a dot or a quote.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND include ".SS \"quorvane ${command}\"\n.nf\n${help}.fi\n")
endforeach()
string(APPEND include "[FILES]
.TP
.I ~/.config/quorvane/qv$N.dat
the processes 0..100 of the settings folder ($XDG_CONFIG_HOME/quorvane when set)
.TP
.I <prefix>/share/quorvane/factory/qv$N.dat
the factory processes, also stored by `quorvane preset install-factory`
.TP
.I <prefix>/share/doc/quorvane/examples/
Liquidsoap scripts, a PipeWire filter chain and a systemd service
[SEE ALSO]
.BR quorvane\\-plugins (7):
the LADSPA and LV2 plug-ins, their ports, latency and recipes for Liquidsoap,
ffmpeg, sox, PipeWire and jalv.
.PP
.BR quorvane\\-control (7):
the browser control panel of
.B quorvane stream \\-\\-control
and its HTTP API.
")
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${OUT}.include" "${include}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 "--name=on-air broadcast audio processor for files and streams"
          "--include=${OUT}.include" "--output=${OUT}" ${TOOL}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed (${rc})")
endif()
