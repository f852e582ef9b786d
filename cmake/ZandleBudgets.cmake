# vm's budgets, set when the program is built: ZANDLE_VM_BUDGET_<NAME> for the instructions
# of a run, New, Escape, Func (shared with If), Call and Return. Each is the maximum: that
# many plus one run, the next stops the process. The defaults are the ones in
# src/vm/limits.hpp, read from there so that they are written once; every target of the
# project sees the same values.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/vm/limits.hpp zandle_budget_lines
     REGEX "^#define ZANDLE_VM_BUDGET_[A-Z]+ [0-9]+$")
foreach(line IN LISTS zandle_budget_lines)
  string(REGEX MATCH "ZANDLE_VM_BUDGET_([A-Z]+) ([0-9]+)" _ "${line}")
  set(name ZANDLE_VM_BUDGET_${CMAKE_MATCH_1})
  set(${name} ${CMAKE_MATCH_2} CACHE STRING "vm's budget: how many ${CMAKE_MATCH_1} a run may execute, less one")
  if(NOT ${name} MATCHES "^[0-9]+$" OR ${name} GREATER 4294967294)
    message(FATAL_ERROR "${name} must be a whole number from 0 to 4294967294, not '${${name}}'")
  endif()
  add_compile_definitions(${name}=${${name}})
endforeach()
