# Runs one golden replay and compares it with its expected files.
#
#   cmake -DTRACE=<kestrel-trace> -DGOLDEN=<dir>/NAME -DWORK=<dir> -P RunGolden.cmake
#       Replays NAME.trace. Standard output must equal NAME.out byte for byte.
#       When NAME.err exists the run must end with status 2 and print exactly
#       NAME.err on standard error; otherwise it must end with status 0 and
#       print nothing there.
#
#   cmake -DTRACE=<kestrel-trace> -DTABLE=<file> -DWORK=<dir> -P RunGolden.cmake
#       Each row "LINE => REASON" is a one-line script that must be refused:
#       status 2, nothing on standard output and exactly
#       "kestrel-trace: line 1: REASON" on standard error.
#
#   cmake -DTRACE=<kestrel-trace> -DUNREADABLE=<path> -DWORK=<dir> -P RunGolden.cmake
#       A script path that cannot be read: status 2, nothing on standard
#       output, one line starting with "kestrel-trace: " on standard error.
#
# The actual output is left in WORK as NAME.actual.out and NAME.actual.err;
# a mismatch prints a unified diff against the expected file.

cmake_minimum_required(VERSION 3.25)

foreach(required TRACE WORK)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "RunGolden.cmake: -D${required}=... is required")
  endif()
endforeach()
file(MAKE_DIRECTORY "${WORK}")

set(BAD_SCRIPT_STATUS 2)
set(DIFF_LIMIT 6000)  # characters of diff shown; the rest is in WORK

# Prints a unified diff of two files (or says where they are if no diff tool).
function(show_diff expected actual)
  find_program(DIFF_TOOL diff)
  if(DIFF_TOOL)
    execute_process(COMMAND "${DIFF_TOOL}" -u "${expected}" "${actual}"
                    OUTPUT_VARIABLE difference)
    string(LENGTH "${difference}" length)
    if(length GREATER DIFF_LIMIT)
      string(SUBSTRING "${difference}" 0 ${DIFF_LIMIT} difference)
      string(APPEND difference "\n... (diff cut; compare the files named above)\n")
    endif()
    message("${difference}")
  endif()
endfunction()

# Sets ${result} to TRUE when the two files hold the same bytes.
function(same_bytes expected actual result)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${expected}" "${actual}"
                  RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
  if(differs EQUAL 0)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(replay script out_file err_file status_var)
  execute_process(COMMAND "${TRACE}" "${script}"
                  OUTPUT_FILE "${out_file}" ERROR_FILE "${err_file}"
                  RESULT_VARIABLE status TIMEOUT 120)
  set(${status_var} "${status}" PARENT_SCOPE)
endfunction()

function(check_golden golden)
  get_filename_component(name "${golden}" NAME)
  set(actual_out "${WORK}/${name}.actual.out")
  set(actual_err "${WORK}/${name}.actual.err")
  if(NOT EXISTS "${golden}.out")
    message(FATAL_ERROR "${golden}.out is missing: write it with scripts/golden-update "
                        "and check its numbers by hand")
  endif()
  replay("${golden}.trace" "${actual_out}" "${actual_err}" status)
  file(READ "${actual_err}" err_text)

  set(failed FALSE)
  if(EXISTS "${golden}.err")
    set(expected_status ${BAD_SCRIPT_STATUS})
  else()
    set(expected_status 0)
  endif()
  if(NOT status STREQUAL expected_status)
    message("exit status ${status}, expected ${expected_status}; stderr: ${err_text}")
    set(failed TRUE)
  endif()

  same_bytes("${golden}.out" "${actual_out}" out_same)
  if(NOT out_same)
    message("standard output differs from ${golden}.out (got ${actual_out}):")
    show_diff("${golden}.out" "${actual_out}")
    set(failed TRUE)
  endif()

  if(EXISTS "${golden}.err")
    same_bytes("${golden}.err" "${actual_err}" err_same)
    if(NOT err_same)
      message("standard error differs from ${golden}.err (got ${actual_err}):")
      show_diff("${golden}.err" "${actual_err}")
      set(failed TRUE)
    endif()
  elseif(NOT err_text STREQUAL "")
    message("unexpected standard error: ${err_text}")
    set(failed TRUE)
  endif()

  if(failed)
    message(FATAL_ERROR "golden ${name} failed")
  endif()
  message(STATUS "golden ${name}: output matches")
endfunction()

function(check_table table)
  get_filename_component(name "${table}" NAME_WE)
  # Split into rows by hand: a list would treat brackets and semicolons in a
  # row as list syntax.
  file(READ "${table}" text)
  string(REPLACE "[" "@LB@" text "${text}")
  string(REPLACE "]" "@RB@" text "${text}")
  string(REPLACE ";" "@SC@" text "${text}")
  string(REPLACE "\n" ";" rows "${text}")
  set(row_count 0)
  set(failed_count 0)
  foreach(row IN LISTS rows)
    if(row MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT row MATCHES "^(.*[^ ]) => (.+)$")
      message(FATAL_ERROR "${table}: row without ' => ': ${row}")
    endif()
    set(line "${CMAKE_MATCH_1}")
    set(reason "${CMAKE_MATCH_2}")
    foreach(field line reason)
      string(REPLACE "@LB@" "[" ${field} "${${field}}")
      string(REPLACE "@RB@" "]" ${field} "${${field}}")
      string(REPLACE "@SC@" ";" ${field} "${${field}}")
    endforeach()
    math(EXPR row_count "${row_count} + 1")
    set(script "${WORK}/${name}.${row_count}.trace")
    file(WRITE "${script}" "${line}\n")
    replay("${script}" "${WORK}/${name}.${row_count}.out" "${WORK}/${name}.${row_count}.err" status)
    file(READ "${WORK}/${name}.${row_count}.out" out_text)
    file(READ "${WORK}/${name}.${row_count}.err" err_text)
    set(expected_err "kestrel-trace: line 1: ${reason}\n")
    if(NOT status STREQUAL BAD_SCRIPT_STATUS OR NOT out_text STREQUAL "" OR
       NOT err_text STREQUAL expected_err)
      message("line: ${line}\n  expected status ${BAD_SCRIPT_STATUS}, stderr: ${expected_err}"
              "  got status ${status}, stderr: ${err_text}  stdout: ${out_text}")
      math(EXPR failed_count "${failed_count} + 1")
    endif()
  endforeach()
  if(failed_count GREATER 0)
    message(FATAL_ERROR "${failed_count} of ${row_count} bad lines in ${name} were not refused as expected")
  endif()
  message(STATUS "${name}: all ${row_count} bad lines refused as expected")
endfunction()

function(check_unreadable path)
  get_filename_component(leaf "${path}" NAME)
  set(actual "${WORK}/unreadable-${leaf}.actual")
  replay("${path}" "${actual}.out" "${actual}.err" status)
  file(READ "${actual}.out" out_text)
  file(READ "${actual}.err" err_text)
  if(NOT status STREQUAL BAD_SCRIPT_STATUS OR NOT out_text STREQUAL "" OR
     NOT err_text MATCHES "^kestrel-trace: [^\n]+\n$")
    message(FATAL_ERROR "reading ${path}: expected status ${BAD_SCRIPT_STATUS} and one "
                        "'kestrel-trace: ' line, got status ${status}, stderr: ${err_text}"
                        " stdout: ${out_text}")
  endif()
  message(STATUS "unreadable ${path}: ${err_text}")
endfunction()

if(DEFINED GOLDEN)
  check_golden("${GOLDEN}")
elseif(DEFINED TABLE)
  check_table("${TABLE}")
elseif(DEFINED UNREADABLE)
  check_unreadable("${UNREADABLE}")
else()
  message(FATAL_ERROR "RunGolden.cmake: give -DGOLDEN=, -DTABLE= or -DUNREADABLE=")
endif()
