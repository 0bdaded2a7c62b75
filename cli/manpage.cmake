# Writes the man page harmidex.1 from the command's own --help texts, so
# the page says what the program says.
#   cmake -DHARMIDEX=path/to/harmidex -DOUT=harmidex.1 -DVERSION=x.y.z -P manpage.cmake

function(help_of out)
  execute_process(COMMAND ${HARMIDEX} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "harmidex ${ARGN} --help failed: ${rc}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Verbatim roff: escapes, and no line may start with a control character.
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

help_of(main)
string(REGEX MATCH "Subcommands:\n(.*)" tail "${main}")
string(REGEX MATCHALL "\n  ([a-z]+) " entries "\n${CMAKE_MATCH_1}")
set(page ".TH HARMIDEX 1 \"\" \"harmidex ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nharmidex \\- reads audio files through the Harmidex module: samples, peak level, spectra, pictures\n")
string(APPEND page ".SH SYNOPSIS\n.B harmidex\n[\\fB\\-\\-module\\fR \\fIPATH\\fR] \\fISUBCOMMAND\\fR [\\fIOPTIONS\\fR]\n")
roff(body "${main}")
string(APPEND page ".SH DESCRIPTION\n${body}")
string(APPEND page ".SH SUBCOMMANDS\n")
foreach(entry ${entries})
  string(STRIP "${entry}" name)
  help_of(sub ${name})
  roff(body "${sub}")
  string(APPEND page ".SS ${name}\n${body}")
endforeach()
string(APPEND page ".SH FILES\nThe module \\fIharmidex.so\\fR beside the program, or in the installed library folder \\fI../lib/.../harmidex/\\fR.\n")
file(WRITE ${OUT} "${page}")
