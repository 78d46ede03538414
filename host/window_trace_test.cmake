# Plays one scripted session twice, headless and through the window
# (exp-host --through-window on the offscreen platform), and fails unless
# both end with the same status and write the same trace, line for line.
#
#   cmake -DHOST=exp-host -DSESSION=S.json -DOUT=DIR [-DAPPSERVER=exp-appserver
#         -DIMPORT=FOLDER] -P window_trace_test.cmake
#
# IMPORT: the session plays on a database imported from the CSV files of
# that folder (a fresh one for each run) instead of the session's fixture.
#
# With EXP_WINDOW_PLATFORM set in the environment (xcb, with $DISPLAY), the
# window run plays on that platform instead: on a real X server, where the
# window is mapped, focused and drawn as a clerk's is.
foreach(var HOST SESSION OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "window_trace_test: ${var} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${OUT})

foreach(mode headless window)
  set(db_args)
  if(IMPORT)
    set(db ${OUT}/${mode}.db)
    file(REMOVE ${db})
    file(GLOB files ${IMPORT}/*.csv)
    execute_process(COMMAND ${APPSERVER} import --db ${db} ${files}
                    RESULT_VARIABLE imported OUTPUT_VARIABLE import_out ERROR_VARIABLE import_out)
    if(NOT imported EQUAL 0)
      message(FATAL_ERROR "the import for the ${mode} run failed:\n${import_out}")
    endif()
    set(db_args --db ${db})
  endif()
  set(window_args)
  set(platform)
  if(mode STREQUAL "window")
    set(window_args --through-window)
    if(DEFINED ENV{EXP_WINDOW_PLATFORM})
      set(platform ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=$ENV{EXP_WINDOW_PLATFORM})
    endif()
  endif()
  execute_process(COMMAND ${platform} ${HOST} --script ${SESSION} --trace ${OUT}/${mode}.jsonl ${db_args}
                          ${window_args}
                  RESULT_VARIABLE status_${mode} OUTPUT_VARIABLE out_${mode}
                  ERROR_VARIABLE out_${mode})
endforeach()

if(NOT status_headless STREQUAL status_window)
  message(FATAL_ERROR "the session ends with status ${status_headless} headless and "
                      "${status_window} through the window\nheadless:\n${out_headless}\n"
                      "through the window:\n${out_window}")
endif()
file(READ ${OUT}/headless.jsonl headless)
file(READ ${OUT}/window.jsonl window)
if(NOT headless STREQUAL window)
  find_program(DIFF diff)
  set(shown "(traces in ${OUT})")
  if(DIFF)
    execute_process(COMMAND ${DIFF} -u ${OUT}/headless.jsonl ${OUT}/window.jsonl
                    OUTPUT_VARIABLE shown)
  endif()
  message(FATAL_ERROR "the traces differ (status ${status_headless} both):\n${shown}\n"
                      "through the window:\n${out_window}")
endif()
string(REGEX MATCHALL "\n" lines "${headless}")
list(LENGTH lines n)
message(STATUS "${n} lines alike, status ${status_headless}")
