# Installs the build tree BUILD_DIR into a scratch prefix and validates the AppStream metainfo
# it installs, as software centres will read it, with APPSTREAMCLI.
#   cmake -DBUILD_DIR=<build> -DAPPSTREAMCLI=<appstreamcli> -P validatemetainfo.cmake
set(prefix ${BUILD_DIR}/tests/metainfo-install)
file(REMOVE_RECURSE ${prefix})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component system
  OUTPUT_QUIET RESULT_VARIABLE installed)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} failed")
endif()
file(GLOB metainfo ${prefix}/share/metainfo/*.metainfo.xml)
list(LENGTH metainfo count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one installed metainfo file, found: ${metainfo}")
endif()
execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${metainfo} RESULT_VARIABLE valid)
file(REMOVE_RECURSE ${prefix})
if(NOT valid EQUAL 0)
  message(FATAL_ERROR "appstreamcli finds the installed ${metainfo} invalid")
endif()
