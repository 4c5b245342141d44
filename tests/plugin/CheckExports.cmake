# Fails unless the plug-in's dynamic symbol table defines exactly the fifteen
# kxso_ operations.
execute_process(COMMAND nm -D --defined-only ${PLUGIN}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PLUGIN}")
endif()
set(expected
  kxso_createRemoteSnaps kxso_deleteRemoteSnaps kxso_deleteSnaps kxso_isMapped
  kxso_isSupported kxso_mapSnaps kxso_postSnapDevices kxso_prepareDevices
  kxso_prepareRemoteSnaps kxso_reconcileSnaps kxso_revertSnaps kxso_snapDevices
  kxso_unmapSnaps kxso_unprepareDevices kxso_version)
string(REPLACE "\n" ";" lines "${symbols}")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  found: ${found}\n  expected: ${expected}")
endif()
message(STATUS "exactly the fifteen kxso_ operations are exported")
