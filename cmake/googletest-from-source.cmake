# GoogleTest built from Debian's source package (googletest) with the
# project's own compiler. Used when cross-compiling, where the host's
# prebuilt libgtest cannot be linked into the target's executables.
# Gives the same targets as find_package(GTest): GTest::gtest, GTest::gtest_main.
set(KWT_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources the tests are built with when cross-compiling")
if(NOT EXISTS ${KWT_GOOGLETEST_SOURCE_DIR}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KWT_GOOGLETEST_SOURCE_DIR}: "
                      "install the googletest package (scripts/install-deps.sh windows)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${KWT_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
