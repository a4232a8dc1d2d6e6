# The folders' one-way dependencies and the host boundary, read from the
# sources themselves:
#   cmake -DSOURCE_DIR=<tree> -DHOST_LIST=<plugin/host_function_list.inc> -P check_layers.cmake
# Fails, listing every case, when a file of a layered folder includes a folder
# its layer may not use, or when a file outside plugin/, hostsim/ and tests/
# names a host function or includes a header of the host's calls. Linking
# catches a wrong include only once a definition is needed; this catches it
# at the include.
cmake_minimum_required(VERSION 3.25)

foreach(variable SOURCE_DIR HOST_LIST)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_layers.cmake needs -D${variable}=...")
  endif()
endforeach()

set(source_patterns *.h *.hpp *.cpp *.cc *.inc)
set(host_folders plugin hostsim tests)
set(host_headers plugin/host_api.h plugin/host_functions.h)

# The project's folders: the top-level folders of the tree.
file(GLOB entries LIST_DIRECTORIES true RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
set(folders "")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${SOURCE_DIR}/${entry}" AND NOT entry MATCHES "^[.]")
    list(APPEND folders "${entry}")
  endif()
endforeach()

# What each layered folder may include besides itself. Every allowed include
# points further down this list, so folders including each other in a circle
# need an include that is not allowed.
set(layers designmatrix motion fmr confound signal report tasks plugin)
set(may_use_designmatrix "")
set(may_use_motion designmatrix)
set(may_use_fmr motion designmatrix)
set(may_use_confound designmatrix)
set(may_use_signal designmatrix motion fmr)
set(may_use_report designmatrix)
set(may_use_tasks designmatrix motion fmr confound signal report)
set(may_use_plugin ${folders})
list(REMOVE_ITEM may_use_plugin hostsim tests)

# The source files of folder, sorted, relative to the tree.
function(sources_of folder result)
  set(globs "")
  foreach(pattern IN LISTS source_patterns)
    list(APPEND globs "${SOURCE_DIR}/${folder}/${pattern}")
  endforeach()
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" ${globs})
  list(SORT files)
  set(${result} ${files} PARENT_SCOPE)
endfunction()

# The targets of the file's #include lines, quoted or bracketed.
function(includes_of file result)
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  set(targets "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*" "\\1" target "${line}")
    list(APPEND targets "${target}")
  endforeach()
  set(${result} ${targets} PARENT_SCOPE)
endfunction()

set(violations "")

foreach(layer IN LISTS layers)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/${layer}")
    continue()
  endif()
  sources_of(${layer} files)
  foreach(file IN LISTS files)
    includes_of("${file}" targets)
    foreach(target IN LISTS targets)
      if(NOT target MATCHES "^([^/]+)/")
        continue()
      endif()
      set(folder "${CMAKE_MATCH_1}")
      if(folder STREQUAL layer OR NOT folder IN_LIST folders OR folder IN_LIST may_use_${layer})
        continue()
      endif()
      list(APPEND violations "${file}: includes \"${target}\": ${layer}/ may not include ${folder}/")
    endforeach()
  endforeach()
endforeach()

# Only plugin/ calls the host (hostsim/ is the host, tests/ stand in for it).
include(${CMAKE_CURRENT_LIST_DIR}/host_function_names.cmake)
tessel_host_function_names("${HOST_LIST}" host_names)
if(NOT host_names)
  message(FATAL_ERROR "${HOST_LIST}: lists no host functions")
endif()
set(boundary "which only plugin/, hostsim/ and tests/ may")

foreach(folder IN LISTS folders)
  # Source folders are the ones the build descends into; a build folder
  # inside the tree holds generated stand-ins of the host.
  if(folder IN_LIST host_folders OR NOT EXISTS "${SOURCE_DIR}/${folder}/CMakeLists.txt")
    continue()
  endif()
  sources_of(${folder} files)
  foreach(file IN LISTS files)
    includes_of("${file}" targets)
    foreach(target IN LISTS targets)
      if(target IN_LIST host_headers)
        list(APPEND violations "${file}: includes \"${target}\", ${boundary}")
      endif()
    endforeach()
    file(READ "${SOURCE_DIR}/${file}" text)
    # The character before the name keeps longer words that end in one out.
    string(REGEX MATCHALL "[^A-Za-z0-9_]zr[A-Z][A-Za-z0-9_]*" words "\n${text}")
    set(named "")
    foreach(word IN LISTS words)
      string(SUBSTRING "${word}" 1 -1 word)
      if(word IN_LIST host_names AND NOT word IN_LIST named)
        list(APPEND named "${word}")
        list(APPEND violations "${file}: names the host function ${word}, ${boundary}")
      endif()
    endforeach()
  endforeach()
endforeach()

list(LENGTH violations count)
if(count GREATER 0)
  set(noun violations)
  if(count EQUAL 1)
    set(noun violation)
  endif()
  foreach(violation IN LISTS violations)
    message(NOTICE "${violation}")
  endforeach()
  message(FATAL_ERROR "Layering check of ${SOURCE_DIR}: ${count} ${noun}")
endif()
message(STATUS "Layering check of ${SOURCE_DIR}: no violations")
