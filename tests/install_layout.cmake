# Installs the build into a fresh prefix and checks that the programs share bin/.
# -DBUILD_DIR=... -DPREFIX=... -DPROGRAMS="voltdesk;burnport"
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(program IN LISTS PROGRAMS)
  if(NOT EXISTS "${PREFIX}/bin/${program}" OR IS_DIRECTORY "${PREFIX}/bin/${program}")
    message(FATAL_ERROR "${program} is not in ${PREFIX}/bin")
  endif()
  execute_process(COMMAND test -x "${PREFIX}/bin/${program}" RESULT_VARIABLE notExecutable)
  if(notExecutable)
    message(FATAL_ERROR "${PREFIX}/bin/${program} cannot be run")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
