# Runs padmap-replay on one case folder and compares what it produced.
#
# The folder holds:
#   session            the session file (absent in some usage cases)
#   config             optional; given as CONFIG when present
#   args               optional; one argument a line replacing the default
#                      "--delivered @DELIVERED@ session [config]"; @DELIVERED@
#                      stands for the delivered file in the output folder
#   expected.stdout    standard output, byte for byte
#   expected.delivered optional; without it nothing may be delivered
#   expected.stderr    optional; without it standard error must stay empty
#   expected.status    optional exit status, 0 when absent
#   expected.requests  optional; the requests padmap made of the driver
#                      (padmap-replay --requests), line for line
#   expected.steps     optional; padmap-replay's --steps file
#
# The program runs in the case folder, so the paths it prints are the short
# relative ones written in the expected files. A case whose session changes
# files (its folder holds a file named "writable") runs in a copy of its
# folder, so the source tree stays as it is.
#
# Variables: REPLAY, CASE_DIR, OUT_DIR, and optionally EMULATOR and CRLF (the
# expected text files are compared with CR LF line ends).

foreach(required REPLAY CASE_DIR OUT_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "run_case.cmake needs -D${required}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")
set(delivered "${OUT_DIR}/delivered")
set(run_dir "${CASE_DIR}")
if(EXISTS "${CASE_DIR}/writable")
  set(run_dir "${OUT_DIR}/case")
  file(COPY "${CASE_DIR}/" DESTINATION "${run_dir}")
endif()

if(EXISTS "${CASE_DIR}/args")
  # Arguments may hold non-ASCII characters: read as UTF-8, not as ASCII runs.
  file(STRINGS "${CASE_DIR}/args" arguments ENCODING UTF-8)
  list(TRANSFORM arguments REPLACE "@DELIVERED@" "${delivered}")
else()
  set(arguments --delivered "${delivered}" session)
  if(EXISTS "${CASE_DIR}/config")
    list(APPEND arguments config)
  endif()
endif()

# The record files are asked for only where a case states what they hold.
foreach(record requests steps)
  if(EXISTS "${CASE_DIR}/expected.${record}")
    list(PREPEND arguments "--${record}" "${OUT_DIR}/${record}")
  endif()
endforeach()

execute_process(
  COMMAND ${EMULATOR} "${REPLAY}" ${arguments}
  WORKING_DIRECTORY "${run_dir}"
  OUTPUT_FILE "${OUT_DIR}/stdout"
  ERROR_FILE "${OUT_DIR}/stderr"
  RESULT_VARIABLE status)

set(failures "")

function(expected_copy name out_var)
  set(source "${CASE_DIR}/${name}")
  if(CRLF)
    file(READ "${source}" text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE "${OUT_DIR}/${name}" "${text}")
    set(${out_var} "${OUT_DIR}/${name}" PARENT_SCOPE)
  else()
    set(${out_var} "${source}" PARENT_SCOPE)
  endif()
endfunction()

function(compare what actual expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${actual}" "${expected}"
    RESULT_VARIABLE differ OUTPUT_QUIET ERROR_QUIET)
  if(NOT differ EQUAL 0)
    file(READ "${actual}" actual_text)
    file(READ "${expected}" expected_text)
    set(failures "${failures}\n--- ${what} differs\n--- expected (${expected}):\n${expected_text}\n--- actual (${actual}):\n${actual_text}" PARENT_SCOPE)
  endif()
endfunction()

function(must_be_empty what file)
  if(EXISTS "${file}")
    file(SIZE "${file}" size)
    if(NOT size EQUAL 0)
      file(READ "${file}" text)
      set(failures "${failures}\n--- ${what} should be empty, holds:\n${text}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

set(expected_status 0)
if(EXISTS "${CASE_DIR}/expected.status")
  file(STRINGS "${CASE_DIR}/expected.status" expected_status LIMIT_COUNT 1)
endif()
if(NOT "${status}" STREQUAL "${expected_status}")
  set(failures "${failures}\n--- exit status ${status}, expected ${expected_status}")
endif()

expected_copy(expected.stdout expected_stdout)
compare("standard output" "${OUT_DIR}/stdout" "${expected_stdout}")

if(EXISTS "${CASE_DIR}/expected.delivered")
  expected_copy(expected.delivered expected_delivered)
  if(EXISTS "${delivered}")
    compare("delivered strokes" "${delivered}" "${expected_delivered}")
  else()
    set(failures "${failures}\n--- no delivered file was written")
  endif()
else()
  must_be_empty("delivered strokes" "${delivered}")
endif()

foreach(record requests steps)
  if(EXISTS "${CASE_DIR}/expected.${record}")
    expected_copy(expected.${record} expected_record)
    compare("${record} record" "${OUT_DIR}/${record}" "${expected_record}")
  endif()
endforeach()

if(EXISTS "${CASE_DIR}/expected.stderr")
  expected_copy(expected.stderr expected_stderr)
  compare("standard error" "${OUT_DIR}/stderr" "${expected_stderr}")
else()
  must_be_empty("standard error" "${OUT_DIR}/stderr")
endif()

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "case ${CASE_DIR}:${failures}")
endif()
