# The dialog program's Windows resource script, with its icon made by
# make_icon.py. Sets FLASHWRIGHT_DIALOG_RC to the generated script.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(FLASHWRIGHT_ICON_FILE ${CMAKE_CURRENT_BINARY_DIR}/flashwright.ico)
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_icon.py ${FLASHWRIGHT_ICON_FILE}
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_icon.py)
set(FLASHWRIGHT_DIALOG_RC ${CMAKE_CURRENT_BINARY_DIR}/flashwright.rc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/flashwright.rc.in ${FLASHWRIGHT_DIALOG_RC} @ONLY)
