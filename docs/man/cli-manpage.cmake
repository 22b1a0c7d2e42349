# Writes cleavix-cli's manual page: the hand-written sections of TEMPLATE with the command list the
# tool itself registers (cleavix-cli --commands: usage and summary of each), so the page lists
# exactly the commands and options the installed program takes.
#   cmake -DCLI=path/to/cleavix-cli -DTEMPLATE=cleavix-cli.1.in -DOUT=cleavix-cli.1 -DVERSION=x.y.z -P cli-manpage.cmake
cmake_policy(VERSION 3.25)
foreach(var CLI TEMPLATE OUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "cli-manpage.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND ${CLI} --commands OUTPUT_VARIABLE json RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CLI} --commands failed (${status})")
endif()

# Plain text as troff input: backslashes and hyphens kept literal, no line starting with a control
# character or with blanks (which would break the filled paragraph), blank lines as vertical space.
function(troff_text out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "\n[ \t]+" "\n" text "${text}")
  string(REGEX REPLACE "^[ \t]+" "" text "${text}")
  string(REGEX REPLACE "\n\n+" "\n.sp\n" text "${text}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(JSON count LENGTH "${json}")
if(count LESS 1)
  message(FATAL_ERROR "${CLI} --commands listed no command")
endif()
math(EXPR last "${count} - 1")
set(commands "")
foreach(i RANGE ${last})
  string(JSON usage GET "${json}" ${i} usage)
  string(JSON summary GET "${json}" ${i} summary)
  # The usage is the paragraph's tag: one line, however --help wraps it.
  string(REGEX REPLACE "[ \t]*\n[ \t]*" " " usage "${usage}")
  troff_text(usage "${usage}")
  troff_text(summary "${summary}")
  string(APPEND commands ".TP\n\\fB${usage}\\fR\n${summary}\n")
endforeach()

file(READ ${TEMPLATE} page)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@COMMANDS@\n" "${commands}" page "${page}")
file(WRITE ${OUT} "${page}")
