# Warnings and sanitizer builds shared by every target of the project.

set(FLASHWRIGHT_SANITIZE "" CACHE STRING "Sanitizer build: empty, 'address' (address+undefined) or 'thread'")
set_property(CACHE FLASHWRIGHT_SANITIZE PROPERTY STRINGS "" address thread)

add_compile_options(-Wall -Wextra)

# Compiles are cached when ccache is installed, keyed on paths relative to the source tree, so
# a second checkout (a worktree, a CI clone) reuses what the first one compiled.
find_program(FLASHWRIGHT_CCACHE ccache)
if(FLASHWRIGHT_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(launcher ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1 ${FLASHWRIGHT_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
option(FLASHWRIGHT_WERROR "Treat warnings as errors" OFF)
if(FLASHWRIGHT_WERROR)
  add_compile_options(-Werror)
endif()

if(FLASHWRIGHT_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(FLASHWRIGHT_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT FLASHWRIGHT_SANITIZE STREQUAL "")
  message(FATAL_ERROR "FLASHWRIGHT_SANITIZE must be empty, 'address' or 'thread'")
elseif(NOT WIN32)
  # Relocations resolved at start-up and then made read-only, as in Debian's
  # own packages. (A PE image has no such sections; its linker has no -z.)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

# Windows programs carry their C++ runtime and thread library inside, so they
# run from their bin folder without the compiler's DLLs beside them.
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_link_options(-static)
endif()
if(WIN32 AND CMAKE_CROSSCOMPILING)
  # Under Wine (build-windows/wine-run) the build folder is drive W:, and the
  # host's other files are reached through drive Z:, the host's root.
  set(FLASHWRIGHT_TEST_BIN_DIR "W:/bin")
  set(FLASHWRIGHT_TEST_SOURCE_DIR "Z:${PROJECT_SOURCE_DIR}")
else()
  set(FLASHWRIGHT_TEST_BIN_DIR "${CMAKE_BINARY_DIR}/bin")
  set(FLASHWRIGHT_TEST_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
endif()

# Test executables get the environment they need from one place.
function(flashwright_add_test_executable name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  if(CMAKE_CROSSCOMPILING)
    # One test per program: each start under the emulator costs more than a
    # whole suite's run.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "FLASHWRIGHT_BIN_DIR=${FLASHWRIGHT_TEST_BIN_DIR}")
    return()
  endif()
  # One value per property: a ";" list would be split on its way through the
  # discovery script and lose every variable but the first.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "FLASHWRIGHT_BIN_DIR=set:${FLASHWRIGHT_TEST_BIN_DIR}")
endfunction()
