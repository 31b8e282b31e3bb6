# Runs the bench once and checks how it ended.
#   BENCH, MODULE        the executable and the module it loads
#   ARGS                 further arguments, separated by "|"
#   SEED_PROFILE         copied to PROFILE before the run (optional)
#   PROFILE              the profile path handed to the bench (optional)
#   EXPECT_EXIT          the exit status, or "nonzero" (default 0)
#   EXPECT_STDERR        a regular expression stderr must match (optional)
#   EXPECT_STDOUT        a regular expression stdout must match (optional)
# The dialog is kept off the screen: no display variables reach the bench.
string(REPLACE "|" ";" args "${ARGS}")
if(SEED_PROFILE)
  configure_file(${SEED_PROFILE} ${PROFILE} COPYONLY)
endif()
if(PROFILE)
  list(APPEND args --profile ${PROFILE})
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
          ${BENCH} --module ${MODULE} ${args}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
message("${err}")
if(NOT DEFINED EXPECT_EXIT)
  set(EXPECT_EXIT 0)
endif()
if(EXPECT_EXIT STREQUAL "nonzero")
  if(status EQUAL 0 OR NOT status MATCHES "^[0-9]+$")
    message(FATAL_ERROR "expected a non-zero exit status, got ${status}")
  endif()
elseif(NOT status STREQUAL EXPECT_EXIT)
  message(FATAL_ERROR "expected exit status ${EXPECT_EXIT}, got ${status}")
endif()
if(DEFINED EXPECT_STDERR AND NOT err MATCHES "${EXPECT_STDERR}")
  message(FATAL_ERROR "stderr does not match: ${EXPECT_STDERR}")
endif()
if(DEFINED EXPECT_STDOUT AND NOT out MATCHES "${EXPECT_STDOUT}")
  message(FATAL_ERROR "stdout does not match: ${EXPECT_STDOUT}")
endif()
