# Warnings and sanitizer builds shared by every target of the project.

set(FLASHWRIGHT_SANITIZE "" CACHE STRING "Sanitizer build: empty, 'address' (address+undefined) or 'thread'")
set_property(CACHE FLASHWRIGHT_SANITIZE PROPERTY STRINGS "" address thread)

add_compile_options(-Wall -Wextra)
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
endif()

# Test executables get the environment they need from one place.
function(flashwright_add_test_executable name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  # One value per property: a ";" list would be split on its way through the
  # discovery script and lose every variable but the first.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "FLASHWRIGHT_BIN_DIR=set:${CMAKE_BINARY_DIR}/bin")
endfunction()
