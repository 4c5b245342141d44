# Installs the build into a temporary prefix as a distribution would (the
# default component, stripped; then the emulator component), checks the
# layout, runs the installed kxsnap (its plug-in and its demo's emulator found
# from its own location), and builds and runs two host projects that find the
# plug-in with find_package: one loads it with dlopen, one links it.
# Directories (BINDIR, LIBDIR, ...) are the build's GNUInstallDirs values.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(plugindir ${LIBDIR}/kxsosnapazure)
set(helperdir ${LIBEXECDIR}/kxsosnapazure)
# Nothing of the build tree on PATH: the installed kxsnap must find its own.
set(run_clean ${CMAKE_COMMAND} -E env PATH=/usr/bin:/bin HOME=${WORK_DIR}/home)

function(install_component)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --strip ${ARGN}
                  RESULT_VARIABLE installed OUTPUT_QUIET ERROR_VARIABLE output)
  if(NOT installed EQUAL 0)
    message(FATAL_ERROR "cmake --install ${ARGN} failed: ${output}")
  endif()
endfunction()

function(expect_files present)
  foreach(file ${ARGN})
    if(present AND NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "not installed: ${file}")
    elseif(NOT present AND EXISTS ${prefix}/${file})
      message(FATAL_ERROR "installed but must not be: ${file}")
    endif()
  endforeach()
endfunction()

function(run_kxsnap expected_result)
  execute_process(COMMAND ${run_clean} ${prefix}/${BINDIR}/kxsnap ${ARGN}
                  RESULT_VARIABLE ran OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT ran EQUAL expected_result)
    message(FATAL_ERROR "installed kxsnap ${ARGN}: exit ${ran}, not ${expected_result}:\n${output}")
  endif()
  set(kxsnap_output "${output}" PARENT_SCOPE)
endfunction()

# --- The default component ----------------------------------------------------
install_component()
expect_files(TRUE ${BINDIR}/kxsnap ${plugindir}/${PLUGIN_SONAME} ${INCLUDEDIR}/kxso/KXSOSnapInfo.h
             ${INCLUDEDIR}/kxso/KXSOTypes.h ${INCLUDEDIR}/kxso/kxso_exports.h
             ${MANDIR}/man1/kxsnap.1 ${DOCDIR}/settings.ini.sample
             ${LIBDIR}/cmake/kxsosnapazure/kxsosnapazureConfig.cmake
             ${LIBDIR}/cmake/kxsosnapazure/kxsosnapazureConfigVersion.cmake)
# The plug-in is private: nothing in the public library folder, and the test
# tools are no part of the default installation.
expect_files(FALSE ${LIBDIR}/libkxsosnapazure.so ${LIBDIR}/${PLUGIN_SONAME} ${BINDIR}/azure-emulator
             ${BINDIR}/udevadm ${helperdir}/azure-emulator)
file(SIZE ${prefix}/${plugindir}/${PLUGIN_SONAME} installed_size)
file(SIZE ${PLUGIN_FILE} built_size)
if(NOT installed_size LESS built_size)
  message(FATAL_ERROR "--strip left the plug-in at ${installed_size} bytes (built: ${built_size})")
endif()

run_kxsnap(0 ${VERSION_OPTION})
# An empty job loads the installed plug-in (from kxsnap's own location) and calls nothing.
file(WRITE ${WORK_DIR}/empty-job.json "{\"operations\": [], \"records\": []}")
run_kxsnap(0 run ${WORK_DIR}/empty-job.json)

if(WITH_EMULATOR)
  # Without the emulator component the demo says what is missing.
  run_kxsnap(3 demo)
  if(NOT kxsnap_output MATCHES "emulator component")
    message(FATAL_ERROR "the demo does not say how to get the emulator:\n${kxsnap_output}")
  endif()
  install_component(--component emulator)
  expect_files(TRUE ${helperdir}/azure-emulator ${helperdir}/emulator-bin/udevadm)
  expect_files(FALSE ${BINDIR}/azure-emulator)
  run_kxsnap(0 demo)
endif()

# --- Host projects ---------------------------------------------------------------
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
  message(FATAL_ERROR "the host projects do not build:\n${output}")
endif()
foreach(host loader linked)
  execute_process(COMMAND ${WORK_DIR}/consumer/${host} RESULT_VARIABLE ran
                  OUTPUT_VARIABLE version ERROR_VARIABLE error)
  if(NOT ran EQUAL 0 OR NOT version MATCHES "^1\\.0\\.0")
    message(FATAL_ERROR "the ${host} host could not call the installed plug-in: ${version}${error}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
