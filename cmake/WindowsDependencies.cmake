# The libraries of the Windows cross build.
#
# Boost (header-only parts), nlohmann-json and CLI11 are the same Debian headers
# the Linux build uses. They are reached through a folder of links to exactly
# their subfolders, never through /usr/include, which would pull glibc's headers
# into a Windows compile. GoogleTest is compiled from Debian's source package.
# Small config files make the find_package calls of the tree find these.
set(FLASHWRIGHT_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
set(include_dir ${FLASHWRIGHT_DEPS_DIR}/include)
file(MAKE_DIRECTORY ${include_dir})
foreach(folder boost nlohmann CLI)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${include_dir}/${folder} SYMBOLIC)
endforeach()

function(flashwright_header_package package target version)
  add_library(flashwright_dep_${package} INTERFACE)
  target_include_directories(flashwright_dep_${package} SYSTEM INTERFACE ${include_dir})
  add_library(${target} ALIAS flashwright_dep_${package})
  set(dir ${FLASHWRIGHT_DEPS_DIR}/cmake/${package})
  file(WRITE ${dir}/${package}Config.cmake "# Targets are defined by WindowsDependencies.cmake.\n")
  file(WRITE ${dir}/${package}ConfigVersion.cmake
    "set(PACKAGE_VERSION ${version})\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
  set(${package}_DIR ${dir} CACHE PATH "" FORCE)
endfunction()

file(STRINGS /usr/include/boost/version.hpp boost_line REGEX "define BOOST_LIB_VERSION")
string(REGEX MATCH "[0-9]+_[0-9]+" boost_version "${boost_line}")
string(REPLACE "_" "." boost_version "${boost_version}")
flashwright_header_package(Boost Boost::boost ${boost_version}.0)
flashwright_header_package(nlohmann_json nlohmann_json::nlohmann_json 3.11.2)
flashwright_header_package(CLI11 CLI11::CLI11 2.3.2)

# GoogleTest from /usr/src/googletest (Debian package googletest).
set(gtest_source /usr/src/googletest)
if(FLASHWRIGHT_BUILD_TESTS)
  if(NOT EXISTS ${gtest_source}/CMakeLists.txt)
    message(FATAL_ERROR "${gtest_source} is missing: run scripts/install-deps")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${gtest_source} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(library gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
  set(dir ${FLASHWRIGHT_DEPS_DIR}/cmake/GTest)
  file(WRITE ${dir}/GTestConfig.cmake "# Targets are defined by WindowsDependencies.cmake.\n")
  set(GTest_DIR ${dir} CACHE PATH "" FORCE)
endif()

# Google Benchmark: Debian ships it for Linux only, with no source package on
# the system, so the Windows build has no benchmarks.
set(FLASHWRIGHT_BUILD_BENCHMARKS OFF CACHE BOOL "" FORCE)

# Test programs run under Wine through a runner that gives them drive W:.
find_program(FLASHWRIGHT_WINE wine)
if(FLASHWRIGHT_WINE)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
