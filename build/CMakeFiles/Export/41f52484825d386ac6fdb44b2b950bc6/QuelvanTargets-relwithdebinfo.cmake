#----------------------------------------------------------------
# Generated CMake target import file for configuration "RelWithDebInfo".
#----------------------------------------------------------------

# Commands may need to know the format version.
set(CMAKE_IMPORT_FILE_VERSION 1)

# Import target "Quelvan::quelvan" for configuration "RelWithDebInfo"
set_property(TARGET Quelvan::quelvan APPEND PROPERTY IMPORTED_CONFIGURATIONS RELWITHDEBINFO)
set_target_properties(Quelvan::quelvan PROPERTIES
  IMPORTED_LOCATION_RELWITHDEBINFO "${_IMPORT_PREFIX}/lib/libquelvan60r.so.0.1.0"
  IMPORTED_SONAME_RELWITHDEBINFO "libquelvan60r.so.0"
  )

list(APPEND _cmake_import_check_targets Quelvan::quelvan )
list(APPEND _cmake_import_check_files_for_Quelvan::quelvan "${_IMPORT_PREFIX}/lib/libquelvan60r.so.0.1.0" )

# Commands beyond this point should not need to know the version.
set(CMAKE_IMPORT_FILE_VERSION)
