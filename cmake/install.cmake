# What `cmake --install` puts where, and the packages CPack makes of it.
include(GNUInstallDirs)

# Installing and packaging take what is built; they do not build the whole
# tree (tests included) first. `make package` builds the installed targets.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(SLIM_INSTALLED_TARGETS slimwick-cli slimgrf-tool)

install(TARGETS slimwick-cli slimgrf-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET slim_app)
  install(TARGETS ${APP_NAME} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND SLIM_INSTALLED_TARGETS ${APP_NAME})
endif()

if(NOT WIN32)
  install(FILES ${CMAKE_SOURCE_DIR}/doc/slimwick-cli.1 ${CMAKE_SOURCE_DIR}/doc/slimgrf.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/slimwick RENAME copyright)
else()
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
endif()

# The installed libslimgrf, static and shared, carries the support code it
# needs, so users link it alone (plus libdeflate, zlib and the thread library). Sanitizer
# and fuzzing builds make no release libraries.
if(NOT WIN32 AND NOT SLIMWICK_SANITIZE AND NOT SLIMWICK_FUZZ)
  slim_sources(INSTALL_GRF_SRC grf)
  slim_sources(INSTALL_SUPPORT_SRC support)
  add_library(slimgrf_objects OBJECT ${INSTALL_GRF_SRC} ${INSTALL_SUPPORT_SRC})
  target_include_directories(slimgrf_objects PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(slimgrf_objects PRIVATE SLIMGRF_INTERNAL)
  # Only the declarations marked GRF_API in grf/grf.h are exported.
  set_target_properties(slimgrf_objects PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  add_library(slimgrf_shared SHARED $<TARGET_OBJECTS:slimgrf_objects>)
  target_link_libraries(slimgrf_shared PRIVATE libdeflate::libdeflate ZLIB::ZLIB ${SYSTEM_LIBS})
  add_library(slimgrf_static STATIC $<TARGET_OBJECTS:slimgrf_objects>)
  set_target_properties(slimgrf_shared slimgrf_static PROPERTIES
    OUTPUT_NAME slimgrf
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  set_target_properties(slimgrf_shared PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  list(APPEND SLIM_INSTALLED_TARGETS slimgrf_shared slimgrf_static)
  install(TARGETS slimgrf_shared slimgrf_static
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/grf/grf.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/grf)
  # The prefix is found from the file's own place, so the file stays right
  # wherever the package is unpacked.
  file(RELATIVE_PATH PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/slimgrf.pc.in ${CMAKE_BINARY_DIR}/slimgrf.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/slimgrf.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

set(CPACK_PACKAGE_NAME slimwick)
set(CPACK_PACKAGE_VENDOR "the Slimwick developers")
set(CPACK_PACKAGE_CONTACT "the Slimwick developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shrinks GRF resource archives by linking identical entries")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the Slimwick developers")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "slimwick-cli writes a consolidated copy of a GRF archive: entries with\n identical content become links, enciphered entries are deciphered. slimgrf\n lists, verifies, extracts, merges, adds to and prunes archives. The\n package also holds libslimgrf, the archive library, with its header.")
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, zlib1g, libdeflate0")
  endif()
endif()
include(CPack)

# Everything the install needs, for `cmake --build --target installables`.
add_custom_target(installables DEPENDS ${SLIM_INSTALLED_TARGETS})
