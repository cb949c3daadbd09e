# Writes one gzipped manual page with help2man from the program's own --help,
# so that the page cannot drift from the options.
#
#   cmake -DPROGRAM=path -DINCLUDE=prog.h2m -DVERSION=x.y -DWORK_DIR=dir
#         -DOUTPUT=prog.1.gz [-DEXIT_HEADERS=a.h;b.h] -P make_manpage.cmake
#
# The EXIT STATUS section comes from the "Exit status:" paragraph of --help
# when the program has one (a status per ", N " item; the paragraph moves
# there from OPTIONS), else from the include file. Every exit status that EXIT_HEADERS declare (constexpr int k...Exit...)
# must be listed there: a status added to the code without its words fails the
# build here rather than going unmentioned in the page.
cmake_minimum_required(VERSION 3.25)

foreach(var PROGRAM INCLUDE VERSION WORK_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_manpage.cmake: ${var} not given")
  endif()
endforeach()
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
get_filename_component(name "${PROGRAM}" NAME)
file(MAKE_DIRECTORY "${WORK_DIR}")

execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${name} --help exited with ${status}")
endif()

# The section's roff text, and the list of the statuses it names.
set(section "")
set(listed "")
if(help MATCHES "\nExit status: ([^\n]+(\n[^\n]+)*)")
  string(REPLACE "\n" " " text "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "\\.$" "" text "${text}")
  # "0 when ..., 1 for ..., 64 for ...": an item starts at a number after a comma.
  string(REGEX REPLACE ", ([0-9]+) " ";\\1 " items "${text}")
  foreach(item IN LISTS items)
    if(NOT item MATCHES "^([0-9]+) (.+)$")
      message(FATAL_ERROR "${name} --help: exit status item not understood: '${item}'")
    endif()
    string(REPLACE "-" "\\-" words "${CMAKE_MATCH_2}")
    string(APPEND section ".TP\n\\fB${CMAKE_MATCH_1}\\fR\n${words}\n")
    list(APPEND listed ${CMAKE_MATCH_1})
  endforeach()
  file(WRITE "${WORK_DIR}/${name}-exit.h2m" "[EXIT STATUS]\n${section}")
  set(includes --include "${WORK_DIR}/${name}-exit.h2m")
else()
  file(READ "${INCLUDE}" include_text)
  if(NOT include_text MATCHES "\\[EXIT STATUS\\]\n([^[]*)")
    message(FATAL_ERROR "${name}: no exit statuses in --help nor in ${INCLUDE}")
  endif()
  string(REGEX MATCHALL "\\\\fB[0-9]+\\\\fR" marks "${CMAKE_MATCH_1}")
  foreach(mark IN LISTS marks)
    string(REGEX REPLACE "[^0-9]" "" number "${mark}")
    list(APPEND listed ${number})
  endforeach()
  set(includes "")
endif()

foreach(header IN LISTS EXIT_HEADERS)
  file(STRINGS "${header}" declarations REGEX "constexpr int k[A-Za-z]*Exit[A-Za-z]* = [0-9]+;")
  foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE ".* = ([0-9]+);.*" "\\1" number "${declaration}")
    if(NOT number IN_LIST listed)
      message(FATAL_ERROR "${name}: exit status ${number} (${header}) is not in the manual page: "
                          "say what it means in --help's \"Exit status:\" or in ${INCLUDE}")
    endif()
  endforeach()
endforeach()

execute_process(
  COMMAND "${HELP2MAN}" --no-info "--version-string=${VERSION}"
          ${includes} --include "${INCLUDE}" --output "${WORK_DIR}/${name}.1" "${PROGRAM}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${name}")
endif()
# The paragraph has become the EXIT STATUS section: it goes from OPTIONS.
if(listed AND includes)
  file(READ "${WORK_DIR}/${name}.1" page)
  string(REGEX REPLACE "\n\\.PP\nExit status: [^\n]*(\n[^.\n][^\n]*)*" "" page "${page}")
  file(WRITE "${WORK_DIR}/${name}.1" "${page}")
endif()
# -n: no name or time stamp in the header, so that the same page gives the same bytes.
execute_process(COMMAND "${GZIP}" -9n -c "${WORK_DIR}/${name}.1" OUTPUT_FILE "${OUTPUT}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${name}")
endif()
