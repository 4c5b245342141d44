# Installs the build into a temporary prefix, checks the layout, then builds
# and runs a host project that finds the plug-in with find_package.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
set(expected lib/libkxsosnapazure.so include/kxso/KXSOSnapInfo.h include/kxso/KXSOTypes.h
             include/kxso/kxso_exports.h bin/kxsnap share/man/man1/kxsnap.1
             lib/cmake/kxsosnapazure/kxsosnapazureConfig.cmake
             lib/cmake/kxsosnapazure/kxsosnapazureConfigVersion.cmake)
if(WITH_EMULATOR)
  list(APPEND expected bin/azure-emulator)
endif()
foreach(file ${expected})
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed kxsnap finds the installed plug-in (../lib) on its own: an
# empty job loads it and calls nothing.
file(WRITE ${WORK_DIR}/empty-job.json "{\"operations\": [], \"records\": []}")
execute_process(COMMAND ${prefix}/bin/kxsnap run ${WORK_DIR}/empty-job.json
                RESULT_VARIABLE ran OUTPUT_QUIET ERROR_VARIABLE output)
if(NOT ran EQUAL 0)
  message(FATAL_ERROR "the installed kxsnap does not find the installed plug-in: ${output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer
                        -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
                        "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
                        "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}"
                RESULT_VARIABLE configured OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "find_package(kxsosnapazure) failed:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer
                RESULT_VARIABLE built OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "the host project does not build:\n${output}")
endif()
execute_process(COMMAND ${WORK_DIR}/consumer/host RESULT_VARIABLE ran OUTPUT_VARIABLE version)
if(NOT ran EQUAL 0 OR NOT version MATCHES "^1\\.0\\.0")
  message(FATAL_ERROR "the host project could not call the installed plug-in: ${version}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
