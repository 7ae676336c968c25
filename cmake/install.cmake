# What `cmake --install` puts under the prefix: the three shared libraries
# with their sonames, the programs, the public headers, a CMake package
# (find_package(gsb) gives gsb::zonelib, gsb::layerio and gsb::ledgerkit)
# and pkg-config files. Everything is placed relative to the prefix, which
# may be given only at install time.

# Installed programs find the libraries beside them; the libraries find each
# other in their own folder.
file(RELATIVE_PATH gsb_bin_to_lib /gsb/${CMAKE_INSTALL_BINDIR} /gsb/${CMAKE_INSTALL_LIBDIR})
set_target_properties(zonelib layerio ledgerkit PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(gsbbuild gsbtool lio PROPERTIES INSTALL_RPATH "$ORIGIN/${gsb_bin_to_lib}")

install(TARGETS zonelib layerio ledgerkit EXPORT gsbTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
                COMPONENT Runtime)
install(TARGETS gsbbuild gsbtool lio EXPORT gsbTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)

install(FILES include/zonelib.h include/gpc.h include/layerio.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
# Zonelib's class interface (the geometry classes, shapes, CSpatial and
# GSBObject) keeps its paths ("boundary/spatial.h") under include/zonelib.
install(FILES boundary/geometry.h boundary/polygon.h boundary/shape.h boundary/spatial.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zonelib/boundary COMPONENT Development)
# The table library's headers keep their paths ("tables/qtable.h") under
# include/ledgerkit. Its classes hold a few members of the base library and
# of the data-access layer by value, so those two headers come too; nothing
# of theirs is exported.
file(GLOB gsb_table_headers ${PROJECT_SOURCE_DIR}/tables/q*.h)
list(REMOVE_ITEM gsb_table_headers ${PROJECT_SOURCE_DIR}/tables/qtblfile.h)
install(FILES ${gsb_table_headers} tables/adodb.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ledgerkit/tables COMPONENT Development)
install(FILES base/qerror.h base/qfile.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ledgerkit/base COMPONENT Development)

include(CMakePackageConfigHelpers)
set(gsb_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/gsb)
install(EXPORT gsbTargets NAMESPACE gsb:: DESTINATION ${gsb_cmake_dir} COMPONENT Development)
configure_package_config_file(cmake/gsbConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/gsbConfig.cmake
                              INSTALL_DESTINATION ${gsb_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/gsbConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gsbConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/gsbConfigVersion.cmake
        DESTINATION ${gsb_cmake_dir} COMPONENT Development)

# pkg-config files name the prefix from their own place (pcfiledir), so a
# prefix given to `cmake --install --prefix` holds.
file(RELATIVE_PATH gsb_pc_to_prefix /gsb/${CMAKE_INSTALL_LIBDIR}/pkgconfig /gsb)
string(REGEX REPLACE "/$" "" gsb_pc_to_prefix "${gsb_pc_to_prefix}")
foreach(pc IN ITEMS zonelib layerio ledgerkit)
  get_target_property(GSB_PC_VERSION ${pc} VERSION)
  configure_file(cmake/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()
