# Read by cpack once per generator: the Debian package holds the system layout, the archive
# only the program directory, as its one top-level directory.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL portable)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_QUORRIN_PORTABLE_NAME})
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
else()
  set(CPACK_COMPONENTS_ALL system)
endif()
