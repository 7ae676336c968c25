# Independent tools that tests and benchmarks compare against; product code
# never links them. Defines gsb_geos (GEOS's C API): found at configure time
# whenever the tests or the benchmarks are built, so that a missing GEOS is
# named here rather than left to the link.
add_library(gsb_geos INTERFACE)
if(NOT (GSB_TESTS OR GSB_BENCHMARKS))
  return()
endif()
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(GEOS QUIET IMPORTED_TARGET geos)
endif()
if(TARGET PkgConfig::GEOS)
  target_link_libraries(gsb_geos INTERFACE PkgConfig::GEOS)
else()
  find_library(GEOS_C_LIBRARY geos_c)
  find_path(GEOS_C_INCLUDE_DIR geos_c.h)
  if(NOT GEOS_C_LIBRARY OR NOT GEOS_C_INCLUDE_DIR)
    message(FATAL_ERROR
      "GEOS (libgeos_c and geos_c.h), the geometry oracle of the tests and benchmarks, "
      "was not found. Install it with 'apt-get install libgeos-dev' (tools/install-deps "
      "installs every package the tests need), or configure with -DGSB_TESTS=OFF "
      "-DGSB_BENCHMARKS=OFF to build the libraries and programs alone.")
  endif()
  target_link_libraries(gsb_geos INTERFACE ${GEOS_C_LIBRARY})
  target_include_directories(gsb_geos INTERFACE ${GEOS_C_INCLUDE_DIR})
endif()
