# cmake -DOBJDUMP=<x86_64-w64-mingw32-objdump> -DLIBRARY=<file.dll|file.exe>
#       [-DPLUGIN=ON] -P check_dll_tables.cmake
#
# Fails unless the Windows binary imports exactly KERNEL32.dll and msvcrt.dll
# (a static runtime: anything else, libwinpthread-1.dll or libstdc++-6.dll,
# would be missing on the user's machine) and, with PLUGIN, unless it exports
# every name the host looks up in the plug-in library.
cmake_minimum_required(VERSION 3.25)

if(NOT OBJDUMP OR NOT LIBRARY)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DLIBRARY=... -P check_dll_tables.cmake")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed: ${status}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports "")
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "^DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" name)
  list(APPEND imports ${name})
endforeach()
list(SORT imports)
if(NOT imports STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "${LIBRARY} imports [${imports}], expected [kernel32.dll;msvcrt.dll]")
endif()

if(NOT PLUGIN)
  message(STATUS "${LIBRARY}: imports ${imports}")
  return()
endif()

# The export name table: lines "\t[   n] name" after its heading.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${LIBRARY} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" export_lines "${table}")
set(exports "")
foreach(line IN LISTS export_lines)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
  string(STRIP "${name}" name)
  list(APPEND exports ${name})
endforeach()

set(required
  createPlugin getAuthor getGUIScript getHelpFile getPluginDescription getPluginName
  getPluginVersion
  # ZorvPluginInterface: constructor, copy constructor, destructor, copy
  # assignment, virtual table.
  _ZN19ZorvPluginInterfaceC1Ev _ZN19ZorvPluginInterfaceC1ERKS_ _ZN19ZorvPluginInterfaceD1Ev
  _ZN19ZorvPluginInterfaceaSERKS_ _ZTV19ZorvPluginInterface
  # tessel: constructor, destructor, execute, initPlugin.
  _ZN6tesselC1Ev _ZN6tesselD1Ev _ZN6tessel7executeEv _ZN6tessel10initPluginEv)
set(missing "")
foreach(name IN LISTS required)
  if(NOT name IN_LIST exports)
    list(APPEND missing ${name})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${LIBRARY} does not export: ${missing}\nExports: ${exports}")
endif()
list(LENGTH exports count)
message(STATUS "${LIBRARY}: imports ${imports}; ${count} exports, all required ones present")
