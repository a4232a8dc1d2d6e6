# tessel_host_function_names(<list file> <result>)
# The host's exported names in the order of the plug-in's host function
# table, as plugin/host_function_list.inc lists them. Used by the build and by
# scripts run with `cmake -P`.
function(tessel_host_function_names list_file result)
  file(STRINGS "${list_file}" lines REGEX "^ZR_(CALLED|UNUSED)\\(")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^ZR_(CALLED|UNUSED)\\(([A-Za-z0-9_]+)\\).*" "\\2" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(${result} ${names} PARENT_SCOPE)
endfunction()
