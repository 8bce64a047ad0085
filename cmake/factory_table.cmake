# Turns the factory process texts (factory/NN-word.txt) into the C++ table of
# settings/factory.h. Run at build time: cmake -DFACTORY_DIR=... -DOUT=... -P
# factory_table.cmake. The assignments are kept as text; the core applies them
# through the parameter table, and a test checks that every one applies.
cmake_minimum_required(VERSION 3.25)
file(GLOB texts "${FACTORY_DIR}/*.txt")
list(SORT texts COMPARE NATURAL)

function(c_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

set(arrays "")
set(rows "")
set(numbers "")
foreach(path IN LISTS texts)
  get_filename_component(file "${path}" NAME)
  if(NOT file MATCHES "^([0-9]+)-[a-z0-9_-]+\\.txt$")
    message(FATAL_ERROR "${path}: factory process files are named NN-word.txt")
  endif()
  math(EXPR number "${CMAKE_MATCH_1}")
  if(number LESS 90 OR number GREATER 100)
    message(FATAL_ERROR "${path}: factory processes take the numbers 90..100")
  endif()
  if(number IN_LIST numbers)
    message(FATAL_ERROR "${path}: process ${number} is defined twice")
  endif()
  list(APPEND numbers ${number})

  file(STRINGS "${path}" lines)
  set(description "")
  set(name "")
  set(assignments "")
  set(count 0)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES "^#[ ]*(.*)$")
      if(description STREQUAL "")
        set(description "${CMAKE_MATCH_1}")
      endif()
    elseif(line MATCHES "^([A-Za-z0-9_.]+)[ ]*=[ ]*(.*)$")
      set(key "${CMAKE_MATCH_1}")
      set(value "${CMAKE_MATCH_2}")
      if(key STREQUAL "process_name")
        set(name "${value}")
      endif()
      c_string(quoted "${key}=${value}")
      string(APPEND assignments "    ${quoted},\n")
      math(EXPR count "${count} + 1")
    else()
      message(FATAL_ERROR "${path}: '${line}' is neither NAME=VALUE nor a comment")
    endif()
  endforeach()
  if(name STREQUAL "")
    message(FATAL_ERROR "${path}: process_name is missing")
  endif()
  string(LENGTH "${name}" name_length)
  if(name_length GREATER 19)
    message(FATAL_ERROR "${path}: process_name '${name}' is longer than 19 characters")
  endif()
  c_string(name_c "${name}")
  c_string(description_c "${description}")
  string(APPEND arrays "const char* const kAssignments${number}[] = {\n${assignments}};\n")
  string(APPEND rows "    {${number}, ${name_c}, ${description_c}, kAssignments${number}, ${count}},\n")
endforeach()

list(LENGTH numbers total)
set(content "// Generated from factory/*.txt by cmake/factory_table.cmake; do not edit.
#include \"settings/factory.h\"

namespace qv {

namespace {
${arrays}}  // namespace

const FactoryProcess kFactoryProcesses[] = {
${rows}};
const int kFactoryProcessCount = ${total};

}  // namespace qv
")
# Rewritten only when it changes, so a touched text that means the same does not rebuild the core.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${content}")
