# Every kind of expectation must be able to fail: each case is a script whose
# last line does not hold. The bench has to exit with status 1 and say which
# line failed, what it expected and what it saw. A script that does not parse
# is refused with status 2 before the module is even loaded.
#   BENCH, MODULE, WORK (a scratch directory)
set(cases
  "tick 2\nexpect display \"nothing like it  \"|:2: expectation failed: expect display.*seen: +\"X    Vel \\+0\\.0000\""
  "tick 2\nexpect display contains \"STOP\"|:2: expectation failed.*expected: a display containing \"STOP\""
  "tick 2\nexpect call DoButton 1000|:2: expectation failed.*seen: +calls left after the last match: *\n +Code \"ENDJOG\""
  "tick 1\nexpect no call|:2: expectation failed.*Code \"ENDJOG\""
  "tick 1\nexpect no call Code \"END*\"|:2: expectation failed.*expected: no call Code \"END\\*\""
  "expect call SetDRO 828 0.001\nexpect call SetDRO 828 0.001|:2: expectation failed"
  "expect dro 821 101|:1: expectation failed.*seen: +100"
  "expect dro 821 > 100|:1: expectation failed.*expected: DRO 821 > 100"
  "expect dro 821 < 100|:1: expectation failed"
  "tick 2\nexpect byte 19 1|:2: expectation failed.*seen: +3"
  "expect byte 19 3|:1: expectation failed.*nothing written yet"
  "expect led 83 off|:1: expectation failed.*seen: +on"
  "expect message \"x\"|:1: expectation failed.*seen: +\"\""
  "tick 2\nexpect moving X|:2: expectation failed.*seen: +axis X stopped"
  "tick 16\nwheel +20 ticks 10 rate 40\ntick 5\nexpect stopped|:4: expectation failed.*seen: +every axis moving"
  "expect profile contains \"<Nope>\"|:1: expectation failed.*it is not there"
  "expect profile lacks \"<profile\"|:1: expectation failed.*it is there"
)
file(MAKE_DIRECTORY ${WORK})
set(n 0)
foreach(case IN LISTS cases)
  math(EXPR n "${n} + 1")
  string(FIND "${case}" "|" bar)
  string(SUBSTRING "${case}" 0 ${bar} script)
  math(EXPR after "${bar} + 1")
  string(SUBSTRING "${case}" ${after} -1 expected)
  file(WRITE ${WORK}/case${n}.bench "${script}\n")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
            ${BENCH} --module ${MODULE} --profile ${WORK}/case${n}.xml --script ${WORK}/case${n}.bench
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT status EQUAL 1)
    message(SEND_ERROR "case ${n} (${script}): exit status ${status}, expected 1\n${err}")
  elseif(NOT err MATCHES "case${n}\\.bench${expected}")
    message(SEND_ERROR "case ${n} (${script}): the report does not match ${expected}:\n${err}")
  endif()
endforeach()

set(syntax_cases
  "tick 1\nwheel +300|:2: at most 127 detents per report"
  "press en\npress q|:2: unknown control \"q\""
  "tick 1\nexpect dro 800 about 3|:2: \"about\" is not a number"
  "say \"unterminated|:1: unterminated quoted text"
  "tick 1\njump|:2: unknown command \"jump\""
)
foreach(case IN LISTS syntax_cases)
  math(EXPR n "${n} + 1")
  string(FIND "${case}" "|" bar)
  string(SUBSTRING "${case}" 0 ${bar} script)
  math(EXPR after "${bar} + 1")
  string(SUBSTRING "${case}" ${after} -1 expected)
  file(WRITE ${WORK}/case${n}.bench "${script}\n")
  execute_process(
    COMMAND ${BENCH} --module ${MODULE} --profile ${WORK}/case${n}.xml --script ${WORK}/case${n}.bench
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 2)
    message(SEND_ERROR "case ${n} (${script}): exit status ${status}, expected 2\n${err}")
  elseif(NOT err MATCHES "case${n}\\.bench${expected}")
    message(SEND_ERROR "case ${n} (${script}): the report does not match ${expected}:\n${err}")
  elseif(NOT out STREQUAL "")
    message(SEND_ERROR "case ${n} (${script}): the module ran before the script was parsed:\n${out}")
  endif()
endforeach()
